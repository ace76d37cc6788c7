// The window's decisions that need no window: label texts, the whole percents of the three bars
// and the rule that enables the Download button.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <locale>

#include "ui/email_rule.h"
#include "ui/label_text.h"
#include "ui/progress_values.h"

namespace tavro {
namespace {

constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();

// A global locale with a decimal comma and digit grouping must not reach the labels.
class CommaLocale {
  public:
    CommaLocale() {
        struct Comma : std::numpunct<char> {
            char do_decimal_point() const override { return ','; }
            char do_thousands_sep() const override { return '.'; }
            std::string do_grouping() const override { return "\3"; }
        };
        previous_ = std::locale::global(std::locale(std::locale::classic(), new Comma));
    }
    ~CommaLocale() { std::locale::global(previous_); }

  private:
    std::locale previous_;
};

TEST(LabelText, FormatsInTheClassicLocaleWhateverTheGlobalOne) {
    const CommaLocale comma;
    EXPECT_EQ(downloadPercentText(42.567), "42.57 %");
    EXPECT_EQ(downloadPercentText(0.0), "0.00 %");
    EXPECT_EQ(downloadPercentText(100.0), "100.00 %");
    EXPECT_EQ(downloadedText(12.4), "12 MB");
    EXPECT_EQ(downloadedText(1234.6), "1235 MB");
    EXPECT_EQ(speedText(3.254), "3.25 MB/s");
    EXPECT_EQ(speedText(0.0), "0.00 MB/s");
    EXPECT_EQ(wholePercentText(42), "42%");
    EXPECT_EQ(wholePercentText(-3), "-3%");
    EXPECT_EQ(wholePercentText(12345), "12345%");
}

TEST(ProgressValues, DownloadRoundsInstallTruncatesUpdateRoundsWithItsOutOfRangeRule) {
    EXPECT_EQ(roundedPercent(99.5), 100);
    EXPECT_EQ(roundedPercent(99.49), 99);
    EXPECT_EQ(roundedPercent(-0.7), 0);  // -0.2 truncates toward zero
    EXPECT_EQ(roundedPercent(1e12), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(roundedPercent(std::nan("")), 0);

    EXPECT_EQ(installPercentParam(99.9), 99);
    EXPECT_EQ(installPercentParam(100.0), 100);
    EXPECT_EQ(installPercentParam(-0.9), 0);
    EXPECT_EQ(installPercentParam(-1e12), kIntMin);

    EXPECT_EQ(updatePercentParam(99.5), 100);
    EXPECT_EQ(updatePercentParam(99.4), 99);
    EXPECT_EQ(updatePercentParam(2147483646.0), 2147483646);
    EXPECT_EQ(updatePercentParam(2147483647.0), kIntMin);  // + 0.5 leaves the 32-bit range
    EXPECT_EQ(updatePercentParam(-1e12), kIntMin);
    EXPECT_EQ(updatePercentParam(std::nan("")), kIntMin);

    EXPECT_EQ(clampPercent(kIntMin), 0);
    EXPECT_EQ(clampPercent(-1), 0);
    EXPECT_EQ(clampPercent(57), 57);
    EXPECT_EQ(clampPercent(101), 100);
}

TEST(EmailRule, NeedsAnAtSignAFullStopAServerAndNoRunningTask) {
    EXPECT_TRUE(downloadAllowed("user@example.com", true, false));
    EXPECT_TRUE(downloadAllowed("first.last@host", true, false));
    EXPECT_TRUE(downloadAllowed(".@", true, false));  // either order, nothing else needed
    EXPECT_TRUE(downloadAllowed("@.", true, false));
    EXPECT_FALSE(downloadAllowed("", true, false));
    EXPECT_FALSE(downloadAllowed("user@example", true, false));
    EXPECT_FALSE(downloadAllowed("user.example.com", true, false));
    EXPECT_FALSE(downloadAllowed("user@example.com", false, false));
    EXPECT_FALSE(downloadAllowed("user@example.com", true, true));
}

}  // namespace
}  // namespace tavro
