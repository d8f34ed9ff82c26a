#include "random/RandomWrapper.h"

// Everything of RandomWrapper is inline: it sits on the path of every draw.
