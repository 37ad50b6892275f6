#include "kit/base/TextCase.h"

#include <QString>

namespace kit {

namespace {
QString q(std::string_view t) {
    return QString::fromUtf8(t.data(), qsizetype(t.size()));
}
}  // namespace

std::string upperCase(std::string_view text) {
    return q(text).toUpper().toStdString();
}
std::string lowerCase(std::string_view text) {
    return q(text).toLower().toStdString();
}
std::string caseFolded(std::string_view text) {
    return q(text).toCaseFolded().toStdString();
}

}  // namespace kit
