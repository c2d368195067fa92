// A brush that blends between two colours along a line: the gallery's row backgrounds.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "picture/brush.h"

namespace tambrel {

class Matrix;

class LinearGradientBrush : public Brush {
 public:
  LinearGradientBrush() = default;
  LinearGradientBrush(LinearGradientBrush&& o) noexcept { TakeNative(o); }
  LinearGradientBrush& operator=(LinearGradientBrush&& o) noexcept {
    if (this != &o) {
      Dispose();
      TakeNative(o);
    }
    return *this;
  }

  gp::GpLineGradient* gradient() const { return gradient_; }

  // The creating operations dispose a held brush first; the wrap mode is tile (0).
  bool Create(const gp::PointF& point1, const gp::PointF& point2, ARGB colour1, ARGB colour2);
  bool CreateI(const gp::Point& point1, const gp::Point& point2, ARGB colour1, ARGB colour2);
  // Mode 0 is horizontal: colour 1 at the left edge, colour 2 at the right.
  bool CreateFromRect(const gp::RectF& rectangle, ARGB colour1, ARGB colour2, int mode);
  bool CreateFromRectI(const gp::Rect& rectangle, ARGB colour1, ARGB colour2, int mode);
  bool CreateFromRectWithAngle(const gp::RectF& rectangle, ARGB colour1, ARGB colour2, float angle,
                               bool angle_scalable);
  bool CreateFromRectWithAngleI(const gp::Rect& rectangle, ARGB colour1, ARGB colour2, float angle,
                                bool angle_scalable);
  bool GetLinearColors(ARGB& colour1, ARGB& colour2) const;
  bool SetLinearColors(ARGB colour1, ARGB colour2);
  bool GetRectangle(gp::RectF& rectangle) const;
  bool GetRectangleI(gp::Rect& rectangle) const;
  bool SetGammaCorrection(bool use_gamma);
  bool GetGammaCorrection() const;
  // Factor/position pairs; the shorter list decides the count.
  bool SetBlend(std::span<const float> factors, std::span<const float> positions);
  int GetBlendCount() const;
  bool GetBlend(std::vector<float>& factors, std::vector<float>& positions) const;
  bool SetInterpolationColors(std::span<const ARGB> colours, std::span<const float> positions);
  int GetInterpolationColorCount() const;
  bool GetInterpolationColors(std::vector<ARGB>& colours, std::vector<float>& positions) const;
  bool SetBlendBellShape(float focus, float scale);
  bool SetBlendTriangularShape(float focus, float scale);
  int GetWrapMode() const;
  bool SetWrapMode(int mode);
  // `matrix` receives a new matrix holding the brush transform.
  bool GetTransform(Matrix& matrix) const;
  bool SetTransform(const Matrix& matrix);
  bool ResetTransform();
  bool MultiplyTransform(const Matrix& matrix, std::optional<int> order = std::nullopt);
  bool TranslateTransform(float dx, float dy, std::optional<int> order = std::nullopt);
  bool ScaleTransform(float sx, float sy, std::optional<int> order = std::nullopt);
  bool ScaleTransformAt(float sx, float sy, gp::PointF centre, std::optional<int> order = std::nullopt);
  bool RotateTransform(float angle, std::optional<int> order = std::nullopt);
  bool RotateTransformAt(float angle, gp::PointF centre, std::optional<int> order = std::nullopt);

 protected:
  void AfterStore(void* h) override { gradient_ = static_cast<gp::GpLineGradient*>(h); }

 private:
  gp::GpLineGradient* gradient_ = nullptr;
};

}  // namespace tambrel
