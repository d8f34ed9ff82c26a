#pragma once
#include <climits>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "net/Binding.h"

class Transition;

// The first event of each of a fixed row of transitions (the engine's, in
// the order of the net's transition map), kept so that the earliest of them
// is known without looking at every transition.
//
// A tournament tree of fan-out 8 over the row: every node holds the time and
// priority of the best event below it (earliest time, then highest priority,
// then the leftmost transition), which transition it belongs to, and whether
// another event below ties with it in time and priority. A transition writes
// its new first event into its leaf (set) and marks the leaf's parent; the
// collection then recomputes the marked nodes level by level, each once (the
// earliest of eight children is found with a few vector minimum
// operations), and marks a node's parent only when the node changed. The top
// level, at most 8 nodes, is scanned whole. So an event costs a few node
// updates per level and one short scan, and the levels grow with the
// logarithm of the number of transitions; a net of up to 8 transitions has
// its leaves on top.
class FirstEventTree {
public:
    FirstEventTree() { reset(0); }
    // `n` transitions, none with an event and none attached.
    void reset(std::size_t n);
    std::size_t size() const { return owners.size(); }

    // Transition `i` of the row is `t` (null: gone).
    void setOwner(std::size_t i, Transition* t) { owners[i] = t; }
    Transition* owner(std::size_t i) const { return owners[i]; }

    // Transition `i`'s leaf as its owner keeps it: the index, and the word
    // and bit that mark the leaf's parent, worked out once instead of at
    // every change. Valid until the next reset.
    struct Leaf {
        std::size_t index = 0;
        std::uint64_t* parentMarks = nullptr;
        std::uint64_t parentBit = 0;
    };
    Leaf leaf(std::size_t i) const {
        return Leaf{i, leafParentMarks + i / (kFanOut * 64), std::uint64_t(1) << (i / kFanOut % 64)};
    }

    // The first event of the transition at leaf `at` is now `b` (null:
    // none). Its time and priority are read now: a transition whose first
    // event changes its time calls this again. No event counts as an event
    // that never comes, and so does a time that is not a number; both zeros
    // are one time.
    void set(const Leaf& at, Binding* b) {
        const std::size_t i = at.index;
        events[i] = b;
        double t = std::numeric_limits<double>::infinity();
        int p = INT_MIN;
        if (b != nullptr) {
            t = b->getTime().FullDateTime() + 0.0;
            if (t != t) t = std::numeric_limits<double>::infinity();
            p = b->getPriority();
        }
        time[i] = t;
        priority[i] = p;
        *at.parentMarks |= at.parentBit;
    }
    Binding* event(std::size_t i) const { return events[i]; }

    // Appends the events at the earliest time and, at that time, of the
    // highest priority, in the order of the row. Times after `latest` never
    // count, and at `latest` itself only priorities of 0 or more; a time that
    // is not a number is never the earliest.
    void collectEarliest(std::vector<Binding*>& out, double latest);
    // The event collectEarliest would append when it would append exactly
    // one and no other event ties with it; null otherwise (none, or a tie).
    Binding* earliestAlone(double latest);

private:
    static constexpr std::size_t kFanOut = 8;

    // Node j of level l is at start[l] + j in the parallel arrays. Level 0
    // are the leaves, one per transition; every level is padded to a
    // multiple of kFanOut with nodes that hold no event; the last level (the
    // top) has at most 8 nodes. A node to recompute is marked by its bit in
    // the marks of its level (bit j % 64 of word markStart[l] + j / 64).
    void takeInChanges();
    // Recomputes node j of level l from its children; answers whether it
    // changed.
    bool recompute(std::size_t l, std::size_t j);
    // The top level's earliest time `t` (returns false when it is after
    // `latest` or not a number), the first top node at that time and whether
    // more than one top node has it.
    bool scanTop(double latest, double& t, std::size_t& firstAt, bool& several) const;
    void appendTies(std::size_t l, std::size_t j, double t, int p, std::vector<Binding*>& out) const;

    std::vector<std::size_t> start;         // one more than the levels: the end
    std::vector<double> time;               // infinite: no event
    std::vector<int> priority;
    std::vector<std::uint32_t> winnerTie;   // row index of the best event below * 2, + 1 when tied
    std::vector<std::size_t> markStart;     // one more than the levels: the end
    std::vector<std::uint64_t> marks;
    std::uint64_t* leafParentMarks;         // the marks of level 1
    std::vector<Binding*> events;           // per transition, its current first event
    std::vector<Transition*> owners;
};
