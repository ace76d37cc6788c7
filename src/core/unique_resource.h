#pragma once

#include <utility>

namespace tavro {

// Move-only owner of one OS resource. Traits supplies the handle type, the value that means
// "nothing owned" and the function that releases a handle:
//   struct Traits { using type = ...; static type invalid() noexcept; static void close(type)
//   noexcept; };
// Traits may also have saveError() and restoreError(saved): the thread's error state is then
// saved before a close and restored after it, so a close never hides the error of the call whose
// result is being taken over.
template <typename Traits>
class UniqueResource {
  public:
    using type = typename Traits::type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(type value) noexcept : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    type get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    // Closes what is owned now and takes ownership of value.
    void reset(type value = Traits::invalid()) noexcept {
        type old = std::exchange(value_, value);
        if (old != Traits::invalid()) {
            closeKeepingError(old);
        }
    }

    [[nodiscard]] type release() noexcept { return std::exchange(value_, Traits::invalid()); }

    // For out-parameters of C APIs: closes what is owned and returns the slot to fill.
    type* put() noexcept {
        reset();
        return &value_;
    }

  private:
    static void closeKeepingError(type old) noexcept {
        if constexpr (requires { Traits::restoreError(Traits::saveError()); }) {
            const auto saved = Traits::saveError();
            Traits::close(old);
            Traits::restoreError(saved);
        } else {
            Traits::close(old);
        }
    }

    type value_ = Traits::invalid();
};

}  // namespace tavro
