// A GDI+ matrix: what world and brush transforms are read into and set from. The application
// never uses one; it exists so that transform operations have an owner for what they return.
#pragma once

#include "picture/native_object.h"

namespace tambrel {

class Matrix : public NativeObject {
 public:
  Matrix() = default;
  Matrix(Matrix&& o) noexcept { TakeNative(o); }
  Matrix& operator=(Matrix&& o) noexcept {
    if (this != &o) {
      Dispose();
      TakeNative(o);
    }
    return *this;
  }
  ~Matrix() override { Dispose(); }

  gp::GpMatrix* matrix() const { return matrix_; }

  bool Dispose();
  // The identity matrix.
  bool Create();
  bool CreateFromElements(float m11, float m12, float m21, float m22, float dx, float dy);
  // m11, m12, m21, m22, dx, dy.
  bool GetElements(float elements[6]) const;
  // Maps points through the matrix in place.
  bool TransformPoints(gp::PointF* points, int count) const;

 protected:
  void StoreNative(void* h) override { matrix_ = static_cast<gp::GpMatrix*>(h); }

 private:
  gp::GpMatrix* matrix_ = nullptr;
};

}  // namespace tambrel
