#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "core/asio_executor.h"
#include "reach/candidates.h"
#include "reach/quic/quic_connection.h"

namespace vistaro {

// Opens the way in through our own router before a peer's QUIC packets come: 5 datagrams
// "vistaro punch", 0.12 s apart, to each candidate, from the socket `sender` writes to.
// `done` runs on the executor once the last ones are out (at once when no candidate resolves).
void punchHoles(AsioExecutor& executor, std::weak_ptr<quic::DatagramSender> sender, std::vector<Candidate> candidates,
                std::function<void()> done);

inline constexpr int kPunchDatagrams = 5;
inline constexpr Duration kPunchSpacing = std::chrono::milliseconds(120);

}  // namespace vistaro
