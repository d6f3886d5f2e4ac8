"""The solver's problem: where the nodes are and when each field was taken."""
from decimal import Decimal

A, B = 0.0, 1.0  # x, along the rows' direction (the first index)
C, D = 0.0, 1.0  # y, along a row (the second index)
DT = 1e-5  # heat2d's time step; heat2d-study's runs record theirs
GRID = (10, 10)  # heat2d's grid
LABELS = range(0, 25000, 10)  # heat2d's snapshot labels


def spacing(nx, ny):
    """Grid spacing: the solver divides by the number of nodes, not of intervals."""
    return (B - A) / nx, (D - C) / ny


def node_coordinates(nx, ny):
    dx, dy = spacing(nx, ny)
    return [A + i * dx for i in range(nx)], [C + j * dy for j in range(ny)]


def time_at(steps, dt=DT):
    """The time after `steps` updates, steps * dt in decimal from dt's shortest form, so that 41
    steps of 1e-05 give 0.00041, not 0.00041000000000000005; written without an exponent or
    trailing zeros."""
    return format((steps * Decimal(repr(dt))).normalize(), "f")


def time_after(label, dt=DT):
    """The file labelled `label` holds the field after label + 1 updates."""
    return time_at(label + 1, dt)


def steps(count):
    return "1 step" if count == 1 else f"{count} steps"
