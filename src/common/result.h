#pragma once
// The one way new code reports a failure: a value or a message saying what went
// wrong, in the words the caller passes on.
//
//   Result<FitRequest> read_fit(const Json& arguments);
//   if (const auto fit = read_fit(arguments); !fit) return tool_error(fit.error());

#include <string>
#include <utility>
#include <variant>

namespace zelto {

struct Failure {
    std::string message;
};

inline Failure fail(std::string message) {
    return Failure{std::move(message)};
}

template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    // Only when !ok().
    const std::string& error() const { return std::get<1>(state_).message; }

  private:
    std::variant<T, Failure> state_;
};

// Success with nothing to hand back.
struct Done {};
using Status = Result<Done>;

inline Status done() {
    return Done{};
}

}  // namespace zelto
