// The root of the framework's objects and its exceptions.
//
// Framework objects live in std::shared_ptr; an empty pointer is nil. Every
// use of a pointer that may be nil goes through Deref, which raises
// NilObjectException instead of dereferencing nothing.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <utility>

namespace platform {

class Object {
 public:
  virtual ~Object() = default;
};

// Base of every exception the framework raises. Copyable, so that the
// exception-catching call routine can hand back the object it caught.
class RuntimeException : public std::exception {
 public:
  RuntimeException() = default;
  explicit RuntimeException(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }
  virtual const char* ClassName() const { return "RuntimeException"; }
  virtual std::shared_ptr<RuntimeException> Clone() const {
    return std::make_shared<RuntimeException>(*this);
  }
  // Throws a copy of this exception with its own class.
  [[noreturn]] virtual void Raise() const { throw *this; }

 private:
  std::string message_;
};

#define VM_EXCEPTION_CLASS(Name, Base)                                        \
  class Name : public Base {                                                  \
   public:                                                                    \
    using Base::Base;                                                         \
    const char* ClassName() const override { return #Name; }                 \
    std::shared_ptr<RuntimeException> Clone() const override {                \
      return std::make_shared<Name>(*this);                                   \
    }                                                                         \
    [[noreturn]] void Raise() const override { throw *this; }                 \
  }

VM_EXCEPTION_CLASS(NilObjectException, RuntimeException);
VM_EXCEPTION_CLASS(IOException, RuntimeException);
VM_EXCEPTION_CLASS(RegExException, RuntimeException);
VM_EXCEPTION_CLASS(RegExSearchPatternException, RegExException);

// The checked use of a possibly nil object.
template <class T>
T& Deref(const std::shared_ptr<T>& p, const char* what = "object") {
  if (!p) throw NilObjectException(std::string("nil ") + what);
  return *p;
}

// The framework's variant; every value the program passes is a text.
class Variant {
 public:
  Variant() = default;
  Variant(std::string text) : text_(std::move(text)) {}  // NOLINT: implicit by design
  Variant(const char* text) : text_(text) {}             // NOLINT
  const std::string& StringValue() const { return text_; }

 private:
  std::string text_;
};

}  // namespace platform
