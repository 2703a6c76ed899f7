#include "support/RefCoder.h"

#include <algorithm>
#include <map>
#include <utility>

#include "support/RefBitWriter.h"

namespace vorka::test {
namespace {

class Model {
public:
  Model(std::uint32_t dicSize, std::uint32_t maxFrag) : dicSize_(dicSize), maxFrag_(maxFrag) {}

  void Byte(std::uint8_t c) {
    auto found = dict_.find({cur_, c});
    if (found != dict_.end()) {
      cur_ = found->second;
      ++len_;
      return;
    }
    if (cur_ == kRoot) {  // very first byte
      Send(0, width_);
      OpenWithLiteral(c);
      return;
    }
    if (!justLiteral_) SendPhrase(cur_);
    justLiteral_ = false;
    if (len_ < maxFrag_) {
      if (next_ == dicSize_) {
        Send(0, width_);
        Clear();
        ++out_.Resets;
        OpenWithLiteral(c);
        return;
      }
      dict_[{cur_, c}] = next_++;
      out_.Longest = std::max(out_.Longest, len_ + 1);
    }
    found = dict_.find({kRoot, c});
    if (found != dict_.end()) {
      cur_ = found->second;
      len_ = 1;
      return;
    }
    if (next_ < dicSize_) {
      Send(2, width_);
    } else {
      Send(0, width_);
      Clear();
      ++out_.Resets;
    }
    OpenWithLiteral(c);
  }

  RefStream Finish() {
    if (cur_ != kRoot && !justLiteral_) SendPhrase(cur_);
    out_.Bytes = writer_.Bytes();
    out_.Bits = writer_.Bits();
    return out_;
  }

private:
  static constexpr std::uint32_t kRoot = 2;

  void Send(std::uint32_t value, unsigned width) {
    out_.Items.push_back({value, width});
    writer_.Put(value, width);
  }
  void SendPhrase(std::uint32_t code) {
    unsigned need = 2;
    while ((std::uint64_t{1} << need) - 1 < code) ++need;
    if (need > width_) {
      Send(1, width_);
      Send(need - width_, 5);
      width_ = need;
    }
    Send(code, width_);
  }
  void OpenWithLiteral(std::uint8_t c) {
    dict_[{kRoot, c}] = next_;
    cur_ = next_++;
    Send(c, 8);
    justLiteral_ = true;
    len_ = 1;
  }
  void Clear() {
    dict_.clear();
    next_ = 3;
    width_ = 2;
  }

  std::uint32_t dicSize_;
  std::uint32_t maxFrag_;
  std::map<std::pair<std::uint32_t, std::uint8_t>, std::uint32_t> dict_;
  std::uint32_t next_ = 3;
  std::uint32_t cur_ = kRoot;
  std::uint32_t len_ = 0;
  unsigned width_ = 2;
  bool justLiteral_ = false;
  RefBitWriter writer_;
  RefStream out_;
};

}  // namespace

RefStream RefEncode(const std::uint8_t* data, std::size_t length, std::uint32_t dicSize,
                    std::uint32_t maxFrag) {
  Model model(dicSize, maxFrag);
  for (std::size_t i = 0; i < length; ++i) model.Byte(data[i]);
  return model.Finish();
}

RefStream RefEncode(const std::string& data, std::uint32_t dicSize, std::uint32_t maxFrag) {
  return RefEncode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), dicSize, maxFrag);
}

}  // namespace vorka::test
