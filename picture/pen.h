// A pen: colour or brush, width, caps, joins, dashes and its own transform. The gallery painter
// keeps one pen 1.0 wide and changes its colour and width between outlines.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "picture/native_object.h"

namespace tambrel {

class Brush;
class CustomLineCap;
class Matrix;

class Pen : public NativeObject {
 public:
  Pen() = default;
  Pen(Pen&& o) noexcept { TakeNative(o); }
  Pen& operator=(Pen&& o) noexcept {
    if (this != &o) {
      Dispose();
      TakeNative(o);
    }
    return *this;
  }
  ~Pen() override { Dispose(); }

  gp::GpPen* pen() const { return pen_; }

  bool Dispose();
  // The creating operations dispose a held pen first; the unit is world units (0) unless given.
  bool Create(ARGB colour, float width, std::optional<int> unit = std::nullopt);
  bool CreateFromBrush(const Brush& brush, float width, std::optional<int> unit = std::nullopt);
  bool CloneTo(Pen& target) const;
  float GetWidth() const;
  bool SetWidth(float width);
  int GetUnit() const;
  bool SetUnit(int unit);
  bool SetLineCap(int start_cap, int end_cap, int dash_cap);
  bool SetStartCap(int cap);
  bool SetEndCap(int cap);
  bool SetDashCap(int cap);
  int GetStartCap() const;
  int GetEndCap() const;
  int GetDashCap() const;
  bool SetLineJoin(int join);
  int GetLineJoin() const;
  bool SetCustomStartCap(const CustomLineCap& cap);
  // `cap` receives a copy of the pen's cap.
  bool GetCustomStartCap(CustomLineCap& cap) const;
  bool SetCustomEndCap(const CustomLineCap& cap);
  bool GetCustomEndCap(CustomLineCap& cap) const;
  bool SetMiterLimit(float limit);
  float GetMiterLimit() const;
  bool SetAlignment(int alignment);
  int GetAlignment() const;
  bool SetTransform(const Matrix& matrix);
  // `matrix` receives a new matrix holding the pen transform.
  bool GetTransform(Matrix& matrix) const;
  bool ResetTransform();
  bool MultiplyTransform(const Matrix& matrix, std::optional<int> order = std::nullopt);
  bool RotateTransform(float angle, std::optional<int> order = std::nullopt);
  bool RotateTransformAt(float angle, gp::PointF centre, std::optional<int> order = std::nullopt);
  bool ScaleTransform(float sx, float sy, std::optional<int> order = std::nullopt);
  bool ScaleTransformAt(float sx, float sy, gp::PointF centre, std::optional<int> order = std::nullopt);
  bool TranslateTransform(float dx, float dy, std::optional<int> order = std::nullopt);
  ARGB GetColor() const;
  bool SetColor(ARGB colour);
  bool SetBrush(const Brush& brush);
  // `brush` receives a copy of the brush the pen fills with.
  bool GetBrush(Brush& brush) const;
  int GetPenType() const;
  bool SetDashStyle(int style);
  int GetDashStyle() const;
  float GetDashOffset() const;
  bool SetDashOffset(float offset);
  bool GetDashPattern(std::vector<float>& pattern) const;
  bool SetDashPattern(std::span<const float> pattern);
  bool SetCompoundArray(std::span<const float> values);
  bool GetCompoundArray(std::vector<float>& values) const;

 protected:
  void StoreNative(void* h) override { pen_ = static_cast<gp::GpPen*>(h); }

 private:
  gp::GpPen* pen_ = nullptr;
};

}  // namespace tambrel
