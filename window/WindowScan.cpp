#include "window/WindowScan.h"

#include "engine/platform/Platform.h"
#include "engine/text/TextEscape.h"

namespace qirn {

void WindowSink::Next(std::string_view /*folderPath*/, std::string_view name)
{
    elements_.currentFile.SetCaption(name);
    elements_.events.ProcessEvents();
}

void WindowSink::Examined(const ExaminedFile& file)
{
    for (const std::string_view signatureName : file.hits) {
        elements_.infections.AddHit({std::string(signatureName),
            PathFromText(std::string(file.folderPath).append(file.name)), file.identity, *file.digest});
        // A name with a line break or an escape would break the report's lines.
        std::string line = "\r\nFile ";
        line += ShownText(file.name);
        line += " was detected as ";
        line += signatureName;
        elements_.report.Append(line);
    }
    elements_.counter.Advance(file.name);
}

}  // namespace qirn
