#pragma once

#include "wire/byte_stream.h"
#include "server/fanout/frame_plan.h"
#include "capture/layer_encoder.h"

namespace vistaro {

struct EncodedFrame {
  Bytes body;  // the frame message body: header length, header JSON, images
  // A layer the client asked for but did not fully receive: its record must
  // be forgotten so that the next message carries it whole.
  bool baseIncomplete = false;
  bool detailIncomplete = false;
};

constexpr double kBaseQuality = 0.72;
constexpr double kDetailQuality = 0.8;

// Runs on the encode queue; reads only the plan and its pixel buffer.
EncodedFrame encodeFrame(LayerEncoder& encoder, const FramePlan& plan);

}  // namespace vistaro
