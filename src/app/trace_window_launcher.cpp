#include "app/trace_window_launcher.h"

#include "trace/trace_window.h"

#include <QLineEdit>

namespace tarnwick::app {

void TraceWindowLauncher::attach(trace::TForm3& form)
{
    m_form = &form;
}

void TraceWindowLauncher::show()
{
    if (!m_form)
        return;
    m_form->show();
    m_form->raise();
    m_form->activateWindow();
}

void TraceWindowLauncher::setHost(const QString& host)
{
    if (m_form)
        m_form->edAddr->setText(host);
}

void TraceWindowLauncher::start()
{
    if (m_form)
        m_form->btnStartClick();
}

} // namespace tarnwick::app
