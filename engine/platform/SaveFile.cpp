#include "engine/platform/SaveFile.h"

namespace qirn {

std::string SaveResult::Describe() const
{
    std::string what;
    switch (failed) {
    case Step::None:
        return {};
    case Step::Open:
        what = "cannot write a new " + fileName;
        break;
    case Step::Write:
        what = "cannot write " + fileName;
        break;
    case Step::Flush:
        what = "cannot flush " + fileName + " to disk";
        break;
    case Step::Close:
        what = "cannot close " + fileName;
        break;
    case Step::Rename:
        what = "cannot put the new " + fileName + " in place";
        break;
    }
    return what + ": " + reason;
}

}  // namespace qirn
