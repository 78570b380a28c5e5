#pragma once

// What the download and "Update Now" tests share: a signature file in a
// temporary folder, and a loopback server that serves its replacement.

#include "tests/TempTree.h"
#include "tests/update/LoopbackServer.h"

#include <QByteArrayView>
#include <QString>

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace qirn::test {

// A 200 answer with exactly these bytes.
inline HttpResponse Body(QByteArrayView body)
{
    HttpResponse response;
    response.body = body.toByteArray();
    return response;
}

class UpdateFixture : public ::testing::Test {
protected:
    // In a folder of its own, so that the folder too can be made unusable.
    std::filesystem::path Destination() const { return tree_.root() / "app" / "sa.kvd"; }
    QString DestinationText() const { return QString::fromStdString(Destination().native()); }

    void WriteOld(QByteArrayView content)
    {
        tree_.file("app/sa.kvd", std::string_view(content.data(), static_cast<std::size_t>(content.size())));
    }

    TempTree tree_;
    LoopbackServer server_;
};

}  // namespace qirn::test
