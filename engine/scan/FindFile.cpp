#include "engine/scan/FindFile.h"

#include "engine/scan/FileExaminer.h"
#include "engine/scan/OutcomeRecord.h"
#include "engine/signatures/SignatureList.h"

namespace mdlFindFiles {

void FindFile(qirn::Folder& folder, const std::string& folderPath, const std::string& name, const ScanRequest& request)
{
    if (request.stop.stop_requested())
        return;
    if (request.filter != nullptr && request.filter->Excludes(folderPath + name, name)) {
        request.sink.Excluded(folderPath, name);
        return;
    }
    request.sink.Next(folderPath, name);
    if (request.stop.stop_requested())
        return;
    qirn::FileExaminer examiner(request.sizeLimit, request.cache);
    qirn::OutcomeRecord(request).Record(
        folderPath, name, examiner.Examine(folder, name, qirn::NeedOf(request.signatures)));
}

}  // namespace mdlFindFiles
