#pragma once

#include <QString>
#include <QStringList>

#include <array>

namespace tarnwick::engine {

// The four status pictures, named after the hidden images that hold them.
enum class StatusPicture {
    Image1, // no slot failing
    Image5, // one or two failing
    Image4, // more than two failing
    Image2, // every slot with a host failing (also: no host at all)
};

// The newest and the previous line of one slot log (empty when missing).
struct NewestLines {
    QString newest;
    QString previous;
};

// A slot with a host fails when neither of its two newest lines holds "Reply".
bool isFailing(const NewestLines& lines);

// First matching row wins: all failing, more than two, at least one, none.
StatusPicture chooseStatusPicture(int failing, int withHost);

// The fourteen summary lines: newest then previous line of each slot, with
// "-----" between slots.
QStringList resultsSummary(const std::array<NewestLines, 5>& logs);

} // namespace tarnwick::engine
