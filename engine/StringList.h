#pragma once
// TStringList: an ordered list of text lines with a change notification.
// OnChange fires once after every operation that changed the list (Assign and
// SetText count as one operation). Text() is cached, because canned responses
// and list files read it far more often than they change.

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::engine {

class TStringList {
 public:
  using TNotifyEvent = std::function<void(TStringList* sender)>;

  TStringList() = default;
  TStringList(std::initializer_list<std::string> lines);
  // Copies the lines only: a handler bound to another list must not follow
  // its lines into a copy.
  TStringList(const TStringList& other);
  // Same as Assign: the lines are copied, this list keeps its own OnChange.
  TStringList& operator=(const TStringList& other);

  std::size_t Count() const { return lines_.size(); }
  bool Empty() const { return lines_.empty(); }
  const std::string& operator[](std::size_t index) const { return lines_.at(index); }
  const std::vector<std::string>& Lines() const { return lines_; }

  void Add(std::string line);
  void Insert(std::size_t index, std::string line);  // index may equal Count()
  void Delete(std::size_t index);                    // out of range: std::out_of_range
  void Clear();                                      // fires only when not empty
  void Assign(const TStringList& source);            // always fires (except from itself)
  void Assign(std::vector<std::string> lines);

  // Every line followed by CR LF.
  const std::string& Text() const;
  // Splits at CR LF, LF or CR; a final line break adds no empty line.
  void SetText(std::string_view text);

  // Suppresses OnChange for its lifetime and restores the handler afterwards,
  // also when the guarded code throws.
  class NotifyPause {
   public:
    explicit NotifyPause(TStringList& list) : list_(list), saved_(std::move(list.OnChange)) {
      list_.OnChange = nullptr;
    }
    ~NotifyPause() { list_.OnChange = std::move(saved_); }
    NotifyPause(const NotifyPause&) = delete;
    NotifyPause& operator=(const NotifyPause&) = delete;

   private:
    TStringList& list_;
    TNotifyEvent saved_;
  };

  TNotifyEvent OnChange;

 private:
  void Changed();

  std::vector<std::string> lines_;
  mutable std::string text_;
  mutable bool textValid_ = false;
};

}  // namespace vantrel::engine
