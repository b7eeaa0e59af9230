// TBrowse store: the unbounded scroll-back of 132-column attributed lines
// whose last `Rows` lines are the live terminal screen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TBrowse {
 public:
  TBrowse();
  ~TBrowse();

  int Cols = 80;
  int Rows = 24;
  int Count() const { return Count_; }

 private:
  int Count_ = 0;
};
