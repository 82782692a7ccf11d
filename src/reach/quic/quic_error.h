#pragma once

#include <system_error>

namespace vistaro::quic {

// ngtcp2's own error codes (NGTCP2_ERR_*), with its texts.
const std::error_category& quicCategory();
inline std::error_code makeQuicError(int liberr) { return {liberr, quicCategory()}; }

// The peer ended the connection, or it went quiet for longer than the idle time-out.
enum class QuicClosed { byPeer = 1, idle = 2 };
const std::error_category& quicClosedCategory();
inline std::error_code make_error_code(QuicClosed reason) { return {static_cast<int>(reason), quicClosedCategory()}; }

}  // namespace vistaro::quic

template <>
struct std::is_error_code_enum<vistaro::quic::QuicClosed> : std::true_type {};
