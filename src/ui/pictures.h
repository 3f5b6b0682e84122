#pragma once

#include "engine/status.h"

#include <QIcon>
#include <QImage>
#include <QString>

namespace tarnwick::ui {

// The program's pictures, drawn as vectors and rendered at every size a
// desktop asks for (16, 22, 24, 32 and 48 pixels), so they stay sharp.
QIcon statusIcon(engine::StatusPicture picture);
QIcon stopGlyph();  // red octagon with a raised hand: shown while monitoring runs
QIcon startGlyph(); // green disc with a running figure: shown while stopped
QIcon moveUpArrow();
QIcon moveDownArrow();
QIcon programIcon();

inline constexpr int pictureSizes[] = {16, 22, 24, 32, 48};

// One picture by its resource name ("status_ok", "stop", ...).
QIcon picture(const QString& name);
// The same picture rendered once at `size` pixels.
QImage renderPicture(const QString& name, int size);

} // namespace tarnwick::ui
