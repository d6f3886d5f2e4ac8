# Sourced by the scripts: lets Open MPI run as root and start more processes than there are cores
# (it yields the core when oversubscribed). Environment, not launcher flags, so another MPI's
# mpiexec still works.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
export OMPI_MCA_rmaps_base_oversubscribe=1
