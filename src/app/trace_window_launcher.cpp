#include "app/trace_window_launcher.h"

#include "trace/trace_window.h"

#include <QLineEdit>

namespace tarnwick::app {

void TraceWindowLauncher::show()
{
    m_form.show();
    m_form.raise();
    m_form.activateWindow();
}

void TraceWindowLauncher::setHost(const QString& host)
{
    m_form.edAddr->setText(host);
}

void TraceWindowLauncher::start()
{
    m_form.btnStartClick();
}

} // namespace tarnwick::app
