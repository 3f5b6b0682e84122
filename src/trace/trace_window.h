#pragma once

#include <QPointer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <thread>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarnwick::net {
class Canceller;
class EchoService;
} // namespace tarnwick::net

namespace tarnwick::trace {

class TSpinEdit;
class TTraceMemo;
class TTraceThread;

// The traceroute window: traces the route to a host on a worker thread and
// converts between host names and IPv4 addresses. Created once, hidden; shown
// modelessly, centred over the main window; closing it only hides it.
//
// A new trace stops the one before it, which writes nothing more. Lookups run
// off the GUI thread and write their result when it arrives; a newer click of
// the same button replaces an older lookup's result. shutdownTraces() (also
// run by the destructor) stops every worker, cuts its waits short and joins it.
class TForm3 : public QWidget {
    Q_OBJECT
public:
    struct Dependencies {
        // The program's echo service; traces open their handles on it.
        std::shared_ptr<net::EchoService> echo;
    };

    // mainWindow is only looked at, to centre this window over it; it may go
    // first.
    TForm3(QWidget* mainWindow, Dependencies deps);
    ~TForm3() override;

    // Stops every trace and lookup and joins their threads; nothing starts
    // afterwards. Call before the windows go.
    void shutdownTraces();

    // Worker threads not yet joined (traces, lookups).
    int traceThreadCount() const { return static_cast<int>(m_traces.size()); }
    int lookupThreadCount() const { return static_cast<int>(m_lookups.size()); }

    void setVisible(bool visible) override;

    // Components, named as the rest of the program refers to them.
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label2 = nullptr;
    TSpinEdit* sedCount = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* edAddr = nullptr;
    QPushButton* btnStart = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    TTraceMemo* memShowTracert = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button1 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* Button2 = nullptr;

public slots:
    void btnStartClick();
    void edAddrKeyPress(QChar key);
    void Button1Click();
    void Button2Click();

signals:
    // A lookup's result has been written (or dropped, when a newer one
    // replaced it); for whoever waits on it.
    void lookupLanded();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using Landing = std::function<void()>;
    using LookupWork = std::function<Landing(const net::Canceller&)>;
    struct Lookup;
    enum LookupKind { ReverseLookup, ForwardLookup, LookupKinds };

    void startTrace();
    void buildControls();
    void fitCaptionsToPlaces();
    void centreOverMainWindow();
    void appendTraceOutput(std::uint64_t traceId, const QString& piece);
    void traceEnded(std::uint64_t traceId);
    void startLookup(LookupKind kind, LookupWork work);
    void lookupEnded(std::uint64_t lookupId, LookupKind kind, const Landing& landing);

    QPointer<QWidget> m_mainWindow;
    std::shared_ptr<net::EchoService> m_echo;
    std::shared_ptr<std::atomic<bool>> m_showNames;
    std::list<std::unique_ptr<TTraceThread>> m_traces;
    std::list<std::unique_ptr<Lookup>> m_lookups;
    std::uint64_t m_nextId = 0;
    std::uint64_t m_currentTrace = 0;
    std::uint64_t m_latestLookup[LookupKinds] = {};
    bool m_shutDown = false;
};

} // namespace tarnwick::trace
