// The one rule for adding an asset code to the log view.
#include <gtest/gtest.h>

#include "QStringPrinter.h"
#include "RecordingHost.h"
#include "core/LogView.h"

namespace patrimonio {
namespace {

using test::RecordingHost;

TEST(LogViewTest, AppendsCodesByTheViewRule) {
    struct Case {
        QString before;
        QString after;
    } cases[] = {
        {QString(), QStringLiteral("12")},
        {QStringLiteral("   "), QStringLiteral("12")},      // blanks typed: replaced
        {QStringLiteral(" \t\r\n"), QStringLiteral("12")},  // control characters too
        {QStringLiteral("40"), QStringLiteral("40 - 12")},
        {QStringLiteral("ver bens "), QStringLiteral("ver bens  - 12")},  // typed text kept as is
    };
    for (const Case& c : cases) {
        RecordingHost host;
        host.log = c.before;
        appendLogCode(host, QStringLiteral("12"));
        EXPECT_EQ(host.log, c.after) << c.before.toStdString();
    }
}

}  // namespace
}  // namespace patrimonio
