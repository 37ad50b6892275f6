# The install test builds the two programs a second time, from a clone at
# another path, while its other checks run: more time than the other system
# tests get, and started first so the build overlaps the rest of the phase.
set_tests_properties(system_install_test PROPERTIES TIMEOUT 540 COST 10000)
