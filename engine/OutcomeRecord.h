#pragma once

// What a walk tells the scan's display elements about each file it examined,
// in walk order: hits and report lines, counts, problems, and the digests
// the cache is to keep.

#include "engine/FileExaminer.h"
#include "engine/ScanElements.h"

#include <string>
#include <string_view>

namespace qirn {

void RecordOutcome(
    const ScanElements& elements, std::string_view folderPath, std::string_view name, const FileOutcome& outcome);
inline void RecordOutcome(const ScanElements& elements, const ExaminerPool::Done& done)
{
    RecordOutcome(elements, done.folderPath, done.name, done.outcome);
}
void ReportUnreadable(const ScanElements& elements, const std::string& path, const Failure& failure);

}  // namespace qirn
