#pragma once

// What a walk tells its sink and its digest cache about each file it
// examined, in walk order.

#include "engine/scan/FileExaminer.h"
#include "engine/scan/FindFiles.h"

#include <string>
#include <string_view>
#include <vector>

namespace qirn {

class OutcomeRecord {
public:
    explicit OutcomeRecord(const mdlFindFiles::ScanRequest& request) : request_(request) { }

    void Record(std::string_view folderPath, std::string_view name, const FileOutcome& outcome);
    void Record(const HandedFile& file) { Record(file.folderPath, file.name, file.outcome); }

private:
    const mdlFindFiles::ScanRequest& request_;
    std::vector<std::string_view> hits_;  // of the file being recorded
};

}  // namespace qirn
