#pragma once

#include <memory>
#include <string>

#include "platform/x11/reconnect_pacer.h"
#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// A connection opened when first needed, and again (paced) once its server was lost and may be back.
// One thread at a time.
class ReopeningConnection {
 public:
  explicit ReopeningConnection(std::string displayName) : displayName_(std::move(displayName)) {}

  // Null while the display cannot be reached.
  Connection* get() {
    if (!live(connection_.get()) && (!attempted_ || reconnect_.due())) {
      attempted_ = true;
      connection_ = Connection::open(displayName_);
      reconnect_.connected();
    }
    return live(connection_.get()) ? connection_.get() : nullptr;
  }

 private:
  std::string displayName_;
  std::unique_ptr<Connection> connection_;
  bool attempted_ = false;
  ReconnectPacer reconnect_;
};

}  // namespace vistaro::x11
