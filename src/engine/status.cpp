#include "engine/status.h"

#include "engine/result_line.h"

namespace tarnwick::engine {

bool isFailing(const NewestLines& lines)
{
    return !lines.newest.contains(kReplyWord) && !lines.previous.contains(kReplyWord);
}

StatusPicture chooseStatusPicture(int failing, int withHost)
{
    if (failing == withHost)
        return StatusPicture::Image2;
    if (failing > 2)
        return StatusPicture::Image4;
    if (failing >= 1)
        return StatusPicture::Image5;
    return StatusPicture::Image1;
}

QStringList resultsSummary(const std::array<NewestLines, 5>& logs)
{
    QStringList lines;
    lines.reserve(14);
    for (std::size_t k = 0; k < logs.size(); ++k) {
        if (k > 0)
            lines << QStringLiteral("-----");
        lines << logs[k].newest << logs[k].previous;
    }
    return lines;
}

} // namespace tarnwick::engine
