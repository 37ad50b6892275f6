# The install test builds the two programs a second time, from a clone at
# another path, while its other checks run: more time than the other system
# tests get, and started first so the build overlaps the rest of the phase.
# The test gives its build what its time leaves.
set_tests_properties(system_install_test PROPERTIES TIMEOUT 600 COST 10000)
