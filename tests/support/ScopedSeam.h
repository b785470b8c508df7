// Points a seam elsewhere for one scope and puts the real call back.
#pragma once

#include "frame/Seam.h"

template <typename T>
class ScopedSeam {
 public:
  ScopedSeam(Seam<T>& seam, T replacement) : m_seam(seam) { m_seam.Set(replacement); }
  ~ScopedSeam() { m_seam.Reset(); }
  ScopedSeam(const ScopedSeam&) = delete;
  ScopedSeam& operator=(const ScopedSeam&) = delete;

 private:
  Seam<T>& m_seam;
};
