#include "kit/base/Regex.h"

#include <QRegularExpression>
#include <QString>

namespace kit {

struct Regex::Impl {
    QRegularExpression re;
};

namespace {

QString qText(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

RegexMatch toMatch(const QRegularExpressionMatch& m) {
    RegexMatch out;
    // Every group of the pattern, also those after the last one that took part.
    for (int i = 0; i <= m.regularExpression().captureCount(); ++i) {
        if (m.capturedStart(i) < 0)
            out.groups.emplace_back(std::nullopt);
        else
            out.groups.emplace_back(m.captured(i).toStdString());
    }
    return out;
}

}  // namespace

Regex::Regex(std::string_view pattern, uint32_t options) : impl_(std::make_unique<Impl>()) {
    QRegularExpression::PatternOptions qo = QRegularExpression::NoPatternOption;
    if (options & caseInsensitive) qo |= QRegularExpression::CaseInsensitiveOption;
    impl_->re = QRegularExpression(qText(pattern), qo);
    // Compiles now (with the JIT) rather than on the first match.
    impl_->re.optimize();
}

Regex::~Regex() = default;
Regex::Regex(const Regex& other) : impl_(std::make_unique<Impl>(*other.impl_)) {}
Regex& Regex::operator=(const Regex& other) {
    if (this != &other) *impl_ = *other.impl_;
    return *this;
}

bool Regex::isValid() const {
    return impl_->re.isValid();
}

std::string Regex::errorString() const {
    return impl_->re.errorString().toStdString();
}

std::vector<RegexMatch> Regex::matches(std::string_view text) const {
    std::vector<RegexMatch> out;
    if (!isValid()) return out;
    auto it = impl_->re.globalMatch(qText(text));
    while (it.hasNext()) out.push_back(toMatch(it.next()));
    return out;
}

std::optional<RegexMatch> Regex::firstMatch(std::string_view text) const {
    if (!isValid()) return std::nullopt;
    QRegularExpressionMatch m = impl_->re.match(qText(text));
    if (!m.hasMatch()) return std::nullopt;
    return toMatch(m);
}

bool Regex::matchesWhole(std::string_view text) const {
    if (!isValid()) return false;
    // Anchored by wrapping: the whole text, not a prefix of it.
    QRegularExpression whole(QRegularExpression::anchoredPattern(impl_->re.pattern()),
                             impl_->re.patternOptions());
    return whole.match(qText(text)).hasMatch();
}

std::string Regex::replaced(std::string_view text, std::string_view replacement) const {
    if (!isValid()) return std::string(text);
    QString q = qText(text);
    const QString with = qText(replacement);
    // Replaced by hand so the replacement is literal (no \1 or $1 expansion).
    QString out;
    qsizetype at = 0;
    auto it = impl_->re.globalMatch(q);
    while (it.hasNext()) {
        QRegularExpressionMatch m = it.next();
        out += q.mid(at, m.capturedStart(0) - at);
        out += with;
        at = m.capturedEnd(0);
    }
    out += q.mid(at);
    return out.toStdString();
}

}  // namespace kit
