#include "app/failure_summary.h"

#include "app/texts.h"

#include <QStringList>

namespace hgt {

namespace {

QString shortened(const QString& line)
{
    if (line.size() <= kMaxLineLength)
        return line;
    // Keep the beginning (what happened) and the end (the file's name).
    const qsizetype head = (kMaxLineLength - 1) / 2;
    const qsizetype tail = kMaxLineLength - 1 - head;
    return line.left(head) + QChar(u'…') + line.right(tail);
}

} // namespace

QString failureSummary(const std::vector<std::string>& messages)
{
    QStringList lines;
    for (std::size_t i = 0; i < messages.size() && i < static_cast<std::size_t>(kMaxListed); ++i)
        lines << shortened(QString::fromStdString(messages[i]));
    if (messages.size() > static_cast<std::size_t>(kMaxListed))
        lines << texts::moreFailures.arg(messages.size() - static_cast<std::size_t>(kMaxListed));
    return lines.join(QLatin1Char('\n'));
}

} // namespace hgt
