// Fuzz target: the walker over an in-memory tree decoded from the input,
// serial and on worker threads, with and without MD5 lanes, against a plain
// recursive reference walk; then messages decoded from the rest of the
// input, digested in every lane set the processor runs and in the single
// stream.

#include "engine/Failure.h"
#include "engine/digest/Digest.h"
#include "engine/digest/Md5Lanes.h"
#include "engine/scan/FindFiles.h"
#include "engine/signatures/SignatureList.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stop_token>
#include <string>
#include <vector>

namespace {

using qirn::FileIdentity;
using qirn::Folder;
using qirn::FolderEntry;

constexpr std::int32_t kSizeLimit = 2;

struct Node {
    std::string name;
    unsigned attributes = 0;
    bool unreadable = false;
    std::string content;
    std::uint64_t inode = 0;
    std::vector<Node> children;
};

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) { }
    std::uint8_t Next() { return position_ < size_ ? data_[position_++] : 0; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

void Decode(Input& input, Node& folder, int depth, std::uint64_t& inodes)
{
    static const char* const kNames[] = {"a", "b", ".h", "c.txt", ".", "..", "d", "\xff"};
    static const char* const kContents[] = {"", "x", "y", "xy", "xyz"};
    const int count = depth > 4 ? 0 : input.Next() % 5;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t kind = input.Next();
        Node node;
        node.name = kNames[kind % 8];
        node.inode = ++inodes;
        bool taken = false;
        for (const Node& sibling : folder.children)
            taken = taken || sibling.name == node.name;
        if (taken)
            continue;
        if (node.name == "." || node.name == "..") {
            node.attributes = qirn::kDirectory | qirn::kHidden;
            folder.children.push_back(std::move(node));
            continue;
        }
        if ((kind & 0x08) != 0)
            node.attributes |= qirn::kDirectory;
        if ((kind & 0x70) == 0x70)
            node.attributes |= qirn::kSystem;
        if (node.name[0] == '.')
            node.attributes |= qirn::kHidden;
        node.unreadable = (kind & 0x80) != 0 && (input.Next() & 3) == 0;
        if ((node.attributes & qirn::kDirectory) != 0)
            Decode(input, node, depth + 1, inodes);
        else
            node.content = kContents[input.Next() % 5];
        folder.children.push_back(std::move(node));
    }
}

class MemoryFolder final : public Folder {
public:
    explicit MemoryFolder(const Node& node) : node_(node) { }

    bool Next(FolderEntry& entry) override
    {
        if (next_ == node_.children.size())
            return false;
        const Node& child = node_.children[next_++];
        entry.name = child.name;
        entry.attributes = child.attributes;
        return true;
    }
    void Rewind() override { next_ = 0; }
    std::unique_ptr<Folder> OpenSubfolder(const std::string& name) override
    {
        const Node& child = Find(name);
        if ((child.attributes & qirn::kDirectory) == 0)
            throw qirn::Failure(ENOTDIR, name);
        return std::make_unique<MemoryFolder>(child);
    }
    FileIdentity Identity() override { return {1, node_.inode}; }
    std::uint64_t Length(const std::string& name) override { return Find(name).content.size(); }
    qirn::FileRead ReadFile(const std::string& name, std::span<std::byte> buffer) override
    {
        const Node& child = Find(name);
        const std::size_t size = std::min(child.content.size(), buffer.size());
        std::memcpy(buffer.data(), child.content.data(), size);
        return {size, FileIdentity{1, child.inode}, {}};
    }

private:
    const Node& Find(const std::string& name) const
    {
        for (const Node& child : node_.children) {
            if (child.name == name) {
                if (child.unreadable)
                    throw qirn::Failure(EACCES, name);
                return child;
            }
        }
        throw qirn::Failure(ENOENT, name);
    }

    const Node& node_;
    std::size_t next_ = 0;
};

struct Record : qirn::ScanSink {
    std::vector<std::string> shown;
    std::vector<std::string> events;  // hits and problems in order
    std::uint64_t examined = 0;
    std::size_t stopAfter = SIZE_MAX;
    std::stop_source stop;

    void Next(std::string_view, std::string_view name) override
    {
        shown.emplace_back(name);
        if (shown.size() == stopAfter)
            stop.request_stop();
    }
    void Examined(const qirn::ExaminedFile& file) override
    {
        ++examined;
        for (const std::string_view signature : file.hits)
            Hit(std::string(signature), std::string(file.folderPath).append(file.name), file.identity.inode);
    }
    void Hit(const std::string& signature, const std::string& path, std::uint64_t inode)
    {
        events.push_back("hit " + signature + " " + path + " " + std::to_string(inode));
    }
    void Unreadable(const std::string& path, const qirn::Failure&) override { events.push_back("problem " + path); }
};

class Reference {
public:
    Reference(const qirn::SignatureList& signatures, std::vector<std::string> digestTexts, Record& record)
        : signatures_(signatures), digestTexts_(std::move(digestTexts)), record_(record)
    {
    }

    bool Walk(const Node& folder, const std::string& path)
    {
        if (record_.stop.stop_requested())
            return false;
        for (const Node& file : folder.children) {
            if (!qirn::PassesMask(file.attributes, qirn::kReadOnly | qirn::kHidden))
                continue;
            if (record_.stop.stop_requested())
                return false;
            record_.Next(path, file.name);
            if (file.unreadable) {
                record_.Unreadable(path + file.name, qirn::Failure(EACCES, ""));
                continue;
            }
            if (file.content.size() > static_cast<std::size_t>(kSizeLimit))
                continue;
            if (signatures_.Count() > 0) {
                qirn::Md5 md5;
                const std::string digest = mdlMD5::DigestToHex(
                    md5.Compute(std::as_bytes(std::span(file.content.data(), file.content.size()))));
                for (std::size_t j = 0; j < signatures_.Count(); ++j) {
                    if (digestTexts_[j] != digest)
                        continue;
                    const std::string name(signatures_.Name(j));
                    record_.Hit(name, path + file.name, file.inode);
                }
            }
            ++counted;
        }
        for (const Node& sub : folder.children) {
            if (sub.name == "." || sub.name == ".." || (sub.attributes & qirn::kDirectory) == 0 ||
                !qirn::PassesMask(sub.attributes, qirn::kDirectory | qirn::kHidden))
                continue;
            // A stopped walk enters each remaining folder and leaves it at once.
            if (record_.stop.stop_requested())
                return false;
            if (sub.unreadable) {
                record_.Unreadable(path + sub.name, qirn::Failure(EACCES, ""));
                continue;
            }
            if (!Walk(sub, path + sub.name + "/"))
                return false;
        }
        return true;
    }

    std::uint64_t counted = 0;

private:
    const qirn::SignatureList& signatures_;
    std::vector<std::string> digestTexts_;
    Record& record_;
};

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "walk differs: %s\n", what);
        std::abort();
    }
}

void CheckEvents(const std::vector<std::string>& found, const std::vector<std::string>& expected, const char* what)
{
    if (found == expected)
        return;
    for (const std::string& event : found)
        std::fprintf(stderr, "walker:    %s\n", event.c_str());
    for (const std::string& event : expected)
        std::fprintf(stderr, "reference: %s\n", event.c_str());
    Check(false, what);
}

void RunWalker(Record& record, const Node& root, const qirn::SignatureList& signatures, unsigned jobs, bool lanes)
{
    MemoryFolder top(root);
    mdlFindFiles::ScanRequest request{signatures, record, record.stop.get_token(), kSizeLimit, jobs};
    request.lanes = lanes;
    mdlFindFiles::FindFiles(top, "/t", mdlFindFiles::kAllFiles, request);
}

// Up to 40 messages of up to 8,191 bytes each, started in the lanes as they free.
void CheckLanes(Input& input)
{
    std::vector<std::vector<std::byte>> messages(input.Next() % 41);
    for (std::vector<std::byte>& message : messages) {
        const std::size_t length = static_cast<std::size_t>(input.Next() % 32) << 8 | input.Next();
        std::uint32_t seed = input.Next();
        message.resize(length);
        for (std::byte& byte : message) {
            seed = seed * 1103515245u + 12345u;
            byte = static_cast<std::byte>(seed >> 24);
        }
    }
    qirn::Md5 md5;
    for (const qirn::Md5LaneSet set : {qirn::Md5LaneSet::kAvx2, qirn::Md5LaneSet::kAvx512}) {
        if (!qirn::Md5Lanes::Supported(set))
            continue;
        qirn::Md5Lanes lanes(set);
        std::vector<std::size_t> messageOfLane(lanes.Width());
        std::vector<qirn::Md5Lanes::Ended> ended;
        for (std::size_t next = 0; next < messages.size() || lanes.Busy() > 0;) {
            for (; next < messages.size() && lanes.Busy() < lanes.Width(); ++next)
                messageOfLane[lanes.Start(messages[next])] = next;
            ended.clear();
            lanes.RunUntilOneEnds(ended);
            for (const qirn::Md5Lanes::Ended& done : ended)
                Check(done.digest == md5.Compute(messages[messageOfLane[done.lane]]), "lane digest");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input input(data, size);
    qirn::SignatureList signatures;
    std::vector<std::string> digestTexts;
    static const char* const kSignatureContents[] = {"", "x", "y", "xy"};
    const int signatureCount = input.Next() % 4;
    for (int i = 0; i < signatureCount; ++i) {
        qirn::Md5 md5;
        const std::string content = kSignatureContents[input.Next() % 4];
        digestTexts.push_back(
            mdlMD5::DigestToHex(md5.Compute(std::as_bytes(std::span(content.data(), content.size())))));
        signatures.Append(digestTexts.back(), "Sig" + std::to_string(i));
    }
    const std::uint8_t stopByte = input.Next();
    const std::size_t stopAfter = stopByte < 200 ? SIZE_MAX : stopByte - 199u;

    Node root;
    std::uint64_t inodes = 0;
    Decode(input, root, 0, inodes);

    Record expected;
    expected.stopAfter = stopAfter;
    Reference reference(signatures, digestTexts, expected);
    reference.Walk(root, "/t/");

    for (const bool lanes : {false, true}) {
        Record serial;
        serial.stopAfter = stopAfter;
        RunWalker(serial, root, signatures, 1, lanes);
        Check(serial.shown == expected.shown, lanes ? "files shown with lanes" : "files shown");
        CheckEvents(serial.events, expected.events, lanes ? "hits and problems with lanes" : "hits and problems");
        Check(serial.examined == reference.counted, lanes ? "count with lanes" : "count");
    }

    if (stopAfter == SIZE_MAX) {
        for (const bool lanes : {false, true}) {
            Record parallel;
            RunWalker(parallel, root, signatures, 2, lanes);
            CheckEvents(parallel.events, expected.events, "parallel hits and problems");
            Check(parallel.examined == reference.counted, "parallel count");
        }
    }
    CheckLanes(input);
    return 0;
}
