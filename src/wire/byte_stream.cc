#include "wire/byte_stream.h"

namespace vistaro {
namespace {

class StreamCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "stream"; }
  std::string message(int code) const override {
    switch (static_cast<StreamError>(code)) {
      case StreamError::keyRejected: return "the peer's key was rejected";
    }
    return "stream error";
  }
};

}  // namespace

const std::error_category& streamCategory() {
  static const StreamCategory category;
  return category;
}

}  // namespace vistaro
