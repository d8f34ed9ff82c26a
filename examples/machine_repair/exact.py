#!/usr/bin/env python3
"""The exact steady-state answers of the machine-repair example.

Every delay is exponential, so the net is a continuous-time Markov chain.
Machines of one kind are alike, so a state is (failed machines of kind 1
waiting, of kind 2 waiting, the kind in repair or 0). The chain is solved by
Gaussian elimination; the script prints the four measures of the example.
"""

MACHINES = {1: 2, 2: 1}          # machines of each kind
UPTIME = {1: 10.0, 2: 5.0}       # mean time to failure
REPAIR = {1: 1.0, 2: 2.0}        # mean repair time


def running(state, kind):
    waiting1, waiting2, repair = state
    waiting = waiting1 if kind == 1 else waiting2
    return MACHINES[kind] - waiting - (1 if repair == kind else 0)


def successors(state):
    """(next state, rate) of every transition out of `state`."""
    waiting1, waiting2, repair = state
    out = []
    for kind in (1, 2):
        n = running(state, kind)
        if n == 0:
            continue
        if repair == 0:
            nxt = (waiting1, waiting2, kind)  # the repairman starts at once
        elif kind == 1:
            nxt = (waiting1 + 1, waiting2, repair)
        else:
            nxt = (waiting1, waiting2 + 1, repair)
        out.append((nxt, n / UPTIME[kind]))
    if repair != 0:
        # The next repair: kind 2 first, then kind 1.
        if waiting2 > 0:
            nxt = (waiting1, waiting2 - 1, 2)
        elif waiting1 > 0:
            nxt = (waiting1 - 1, waiting2, 1)
        else:
            nxt = (waiting1, waiting2, 0)
        out.append((nxt, 1.0 / REPAIR[repair]))
    return out


def stationary():
    states = []
    todo = [(0, 0, 0)]
    while todo:
        s = todo.pop()
        if s in states:
            continue
        states.append(s)
        todo += [t for t, _ in successors(s)]
    index = {s: i for i, s in enumerate(states)}
    n = len(states)
    # pi Q = 0 with sum(pi) = 1: the transposed generator with one equation
    # replaced by the normalisation.
    a = [[0.0] * (n + 1) for _ in range(n)]
    for s in states:
        for t, rate in successors(s):
            a[index[t]][index[s]] += rate
            a[index[s]][index[s]] -= rate
    a[0] = [1.0] * n + [1.0]
    for col in range(n):
        pivot = max(range(col, n), key=lambda r: abs(a[r][col]))
        a[col], a[pivot] = a[pivot], a[col]
        for r in range(n):
            if r != col and a[r][col] != 0.0:
                f = a[r][col] / a[col][col]
                a[r] = [x - f * y for x, y in zip(a[r], a[col])]
    return {s: a[index[s]][n] / a[index[s]][index[s]] for s in states}


def main():
    pi = stationary()
    up = sum(p * (running(s, 1) + running(s, 2)) for s, p in pi.items())
    print("Availability  %.6f" % (up / 3.0))
    print("Kind2Up       %.6f" % sum(p * running(s, 2) for s, p in pi.items()))
    print("RepairmanBusy %.6f" % sum(p for s, p in pi.items() if s[2] != 0))
    print("Waiting       %.6f" % sum(p * (s[0] + s[1]) for s, p in pi.items()))


if __name__ == "__main__":
    main()
