#include "screen/marks.h"

#include <new>

#include "screen/failures.h"

TMarkManager::TMarkManager() {
  struct TFixed {
    std::uint8_t Type;
    TColor Foreground, Background;
  };
  const TFixed fixed[kFixedMarks] = {
      {1, colors::Black, colors::Aqua},
      {2, colors::White, colors::Blue},
      {3, colors::White, colors::Black},
      {3, colors::White, colors::Maroon},
  };
  for (const TFixed& f : fixed) {
    TMarkClass mark;
    mark.Attributes.Type = f.Type;
    mark.Attributes.Foreground = f.Foreground;
    mark.Attributes.Background = f.Background;
    Marks.push_back(mark);
  }
}

TMarkAttributes* TMarkManager::Get(int mark) {
  if (mark < 1 || mark > Count()) return nullptr;
  return &Marks[mark - 1].Attributes;
}

const TMarkAttributes* TMarkManager::Get(int mark) const {
  if (mark < 1 || mark > Count()) return nullptr;
  return &Marks[mark - 1].Attributes;
}

int TMarkManager::NewUserMark() {
  TMarkAttributes fresh;
  fresh.Type = 4;
  for (int mark = kFirstUserMark; mark <= Count(); ++mark) {
    if (Marks[mark - 1].Attributes.Type == 0) {
      Marks[mark - 1].Attributes = fresh;
      return mark;
    }
  }
  if (Count() >= kLastUserMark) throw EOutOfResources(kNoMarkMemory);
  try {
    Marks.push_back(TMarkClass{fresh});
  } catch (const std::bad_alloc&) {
    throw EOutOfResources(kNoMarkMemory);
  }
  return Count();
}

void TMarkManager::Free(int mark) {
  TMarkAttributes* m = Get(mark);
  if (!m) return;
  m->FirstLine = m->LastLine = m->Anchor = -1;
  m->TopColumn = m->BottomColumn = 0;
  if (mark >= kFirstUserMark) {
    m->Type = 0;
    m->Name.clear();
  }
}
