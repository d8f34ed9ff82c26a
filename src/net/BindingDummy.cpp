#include "net/BindingDummy.h"

#include <utility>

BindingDummy::BindingDummy(long id, Transition* t, DateTime when, int prio, double w, bool fire,
                           std::vector<long> ids, bool temp)
    : boundTransition(t),
      time(when),
      priority(prio),
      ID(id),
      weight(w),
      fireEvent(fire),
      tokensID(std::move(ids)),
      placeholder(temp) {}
