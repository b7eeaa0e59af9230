// A lazily started coroutine that returns a value, and can be awaited by
// another: the PADS operations are written as straight sequences of
// requests and waits, and suspend wherever the protocol waits for the line
// or the clock, so the window thread is never held.
#pragma once

#include <coroutine>
#include <exception>
#include <optional>
#include <utility>

namespace pads {

template <typename T>
class TTask {
 public:
  struct promise_type {
    std::optional<T> Value;
    std::exception_ptr Failure;
    std::coroutine_handle<> Continuation;

    TTask get_return_object() { return TTask(std::coroutine_handle<promise_type>::from_promise(*this)); }
    std::suspend_always initial_suspend() noexcept { return {}; }
    struct TFinal {
      bool await_ready() noexcept { return false; }
      std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> h) noexcept {
        const std::coroutine_handle<> next = h.promise().Continuation;
        return next ? next : std::noop_coroutine();
      }
      void await_resume() noexcept {}
    };
    TFinal final_suspend() noexcept { return {}; }
    void return_value(T value) { Value = std::move(value); }
    void unhandled_exception() { Failure = std::current_exception(); }
  };

  TTask() = default;
  explicit TTask(std::coroutine_handle<promise_type> handle) : Handle(handle) {}
  TTask(TTask&& other) noexcept : Handle(std::exchange(other.Handle, {})) {}
  TTask& operator=(TTask&& other) noexcept {
    if (this != &other) {
      Reset();
      Handle = std::exchange(other.Handle, {});
    }
    return *this;
  }
  TTask(const TTask&) = delete;
  TTask& operator=(const TTask&) = delete;
  // Destroying a suspended task destroys the whole chain it awaits.
  ~TTask() { Reset(); }

  bool Valid() const { return static_cast<bool>(Handle); }
  bool Done() const { return Handle && Handle.done(); }
  // Runs a top-level task up to its first suspension.
  void Start() { Handle.resume(); }
  // The result of a finished task; rethrows what escaped it.
  T Result() {
    if (Handle.promise().Failure) std::rethrow_exception(Handle.promise().Failure);
    return std::move(*Handle.promise().Value);
  }
  void Reset() {
    if (Handle) Handle.destroy();
    Handle = {};
  }

  bool await_ready() const noexcept { return false; }
  std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
    Handle.promise().Continuation = awaiting;
    return Handle;
  }
  T await_resume() { return Result(); }

 private:
  std::coroutine_handle<promise_type> Handle;
};

}  // namespace pads
