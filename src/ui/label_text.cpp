#include "ui/label_text.h"

#include <iomanip>
#include <locale>
#include <sstream>

namespace tavro {

namespace {

std::string fixed(double value, int decimals, const char* unit) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::fixed << std::setprecision(decimals) << value << unit;
    return text.str();
}

}  // namespace

std::string downloadPercentText(double percent) {
    return fixed(percent, 2, " %");
}

std::string downloadedText(double megabytes) {
    return fixed(megabytes, 0, " MB");
}

std::string speedText(double megabytesPerSecond) {
    return fixed(megabytesPerSecond, 2, " MB/s");
}

std::string wholePercentText(std::int32_t percent) {
    return std::to_string(percent) + "%";
}

}  // namespace tavro
