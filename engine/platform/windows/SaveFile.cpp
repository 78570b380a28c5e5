#include "engine/platform/SaveFile.h"

#include "engine/platform/SystemRandom.h"
#include "engine/platform/windows/Io.h"
#include "engine/platform/windows/Text.h"

#include <algorithm>
#include <cstdint>
#include <span>

namespace qirn {

namespace {

constexpr int kNameAttempts = 100;

SaveResult Failed(SaveResult::Step step, DWORD error, const std::filesystem::path& name)
{
    const std::string text = windows::ErrorFailure(error, "").description();
    return {step, static_cast<int>(error), text.substr(2), windows::Narrow(name.native())};
}

// A new, empty file beside the target, under a name nobody else uses.
windows::UniqueHandle CreateBeside(const std::wstring& folder, const std::filesystem::path& name, std::wstring& created)
{
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::uint64_t tag = 0;
        FillFromSystemRandom(std::as_writable_bytes(std::span(&tag, 1)));
        created = folder + L"\\." + name.native() + L"." + std::to_wstring(tag) + L".tmp";
        windows::UniqueHandle file(
            ::CreateFileW(created.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.valid() || ::GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return windows::UniqueHandle();
}

bool WriteAll(HANDLE file, std::string_view bytes)
{
    while (!bytes.empty()) {
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD wrote = 0;
        if (::WriteFile(file, bytes.data(), piece, &wrote, nullptr) == 0)
            return false;
        bytes.remove_prefix(wrote);
    }
    return true;
}

enum class Target { Replaced, NewPrivate };

SaveResult Save(const std::filesystem::path& file, std::string_view bytes, Target to)
{
    using Step = SaveResult::Step;
    const std::filesystem::path name = file.filename();
    std::wstring target = windows::LongPath(file.native());
    const std::wstring folder = target.substr(0, target.find_last_of(L'\\'));

    // The old entry is looked at, never opened: it may be a link.
    const DWORD old = ::GetFileAttributesW(target.c_str());
    if (old != INVALID_FILE_ATTRIBUTES && to == Target::NewPrivate)
        return Failed(Step::Rename, ERROR_FILE_EXISTS, name);
    if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return Failed(Step::Open, ERROR_DIRECTORY, name);
    if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) != 0)
        return Failed(Step::Open, ERROR_ACCESS_DENIED, name);

    std::wstring created;
    windows::UniqueHandle out = CreateBeside(folder, name, created);
    if (!out.valid())
        return Failed(Step::Open, ::GetLastError(), name);
    const auto abandon = [&](Step step, DWORD error) {
        out = windows::UniqueHandle();
        ::DeleteFileW(created.c_str());
        return Failed(step, error, name);
    };
    if (!WriteAll(out.get(), bytes))
        return abandon(Step::Write, ::GetLastError());
    if (::FlushFileBuffers(out.get()) == 0)
        return abandon(Step::Flush, ::GetLastError());
    if (::CloseHandle(out.release()) == 0)
        return abandon(Step::Close, ::GetLastError());
    // Replaces the name itself, a link of that name included; a new private
    // file never replaces anything.
    const DWORD flags =
        to == Target::NewPrivate ? MOVEFILE_WRITE_THROUGH : MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (::MoveFileExW(created.c_str(), target.c_str(), flags) == 0)
        return abandon(Step::Rename, ::GetLastError());
    return {};
}

}  // namespace

SaveResult SaveFileContent(const std::filesystem::path& file, std::string_view bytes)
{
    return Save(file, bytes, Target::Replaced);
}

SaveResult SaveNewPrivateFile(const std::filesystem::path& file, std::string_view bytes)
{
    return Save(file, bytes, Target::NewPrivate);
}

}  // namespace qirn
