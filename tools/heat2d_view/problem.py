"""The solver's built-in problem: where the nodes are and when each snapshot was taken."""

A, B = 0.0, 1.0  # x, along the rows' direction (the first index)
C, D = 0.0, 1.0  # y, along a row (the second index)
DT = 1e-5


def spacing(nx, ny):
    """Grid spacing: the solver divides by the number of nodes, not of intervals."""
    return (B - A) / nx, (D - C) / ny


def node_coordinates(nx, ny):
    dx, dy = spacing(nx, ny)
    return [A + i * dx for i in range(nx)], [C + j * dy for j in range(ny)]


def time_after(label):
    """The file labelled `label` holds the field after label + 1 updates."""
    return (label + 1) * DT
