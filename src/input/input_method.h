#pragma once

namespace vistaro {

// The desktop's input method framework (IBus, Fcitx), beyond its keyboard layouts.
class InputMethod {
 public:
  virtual ~InputMethod() = default;
  // True while an engine is active that turns keys into other text (Japanese, Chinese,
  // Korean, ...); false under a plain layout engine, and when no framework answers.
  virtual bool convertsKeys() = 0;
};

}  // namespace vistaro
