#pragma once
// The base of the program's components: a name, an owner to find one's way
// back through (handlers use it to find their session) and a free Tag. The
// owner does not delete through this link; ownership is held by unique_ptr.

#include <cstdint>
#include <string>

namespace vantrel::net {

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
  virtual ~TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  // For an object that changes hands (a kept connection taken up by
  // another session).
  void SetOwner(TComponent* owner) { owner_ = owner; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  intptr_t Tag() const { return tag_; }
  void SetTag(intptr_t tag) { tag_ = tag; }

 private:
  TComponent* owner_;
  std::string name_;
  intptr_t tag_ = 0;
};

}  // namespace vantrel::net
