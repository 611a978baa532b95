# Says whether the real pedigrees are there; ctest counts the test as
# skipped when they are not.
if(IS_DIRECTORY "${DIR}")
  message("real pedigrees found at ${DIR}")
else()
  message("real pedigrees not found at ${DIR}: the real-data tests are skipped")
endif()
