// A narrow seam: one system call (or object) that the library uses through a
// pointer which defaults to the real one. Tests point it elsewhere where Wine
// cannot produce the answer they need, and put it back with Reset().
#pragma once

#include <utility>

template <typename T>
class Seam {
 public:
  constexpr explicit Seam(T real) noexcept : m_real(real), m_current(real) {}
  Seam(const Seam&) = delete;
  Seam& operator=(const Seam&) = delete;

  template <typename... Args>
  auto operator()(Args&&... args) const -> decltype(std::declval<T>()(std::forward<Args>(args)...)) {
    return m_current(std::forward<Args>(args)...);
  }
  T get() const noexcept { return m_current; }
  T real() const noexcept { return m_real; }
  void Set(T replacement) noexcept { m_current = replacement; }
  void Reset() noexcept { m_current = m_real; }

 private:
  const T m_real;
  T m_current;
};
