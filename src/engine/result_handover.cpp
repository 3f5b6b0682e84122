#include "engine/result_handover.h"

namespace tarnwick::engine {

ResultHandover::ResultHandover(Recorder recorder, QObject* parent)
    : QObject(parent), m_recorder(std::move(recorder)), m_handover(this)
{
}

bool ResultHandover::deliver(int slotIndex, const QString& line)
{
    return m_handover.call([this, slotIndex, line] {
        if (m_recorder)
            m_recorder(slotIndex, line);
    });
}

} // namespace tarnwick::engine
