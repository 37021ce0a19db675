# Runs one fuzz target for SECONDS seconds, starting from its committed seeds
# in SEEDS. What the run finds goes under WORK, which starts empty each
# time: new corpus entries to WORK/corpus (the first corpus directory, the
# one libFuzzer writes to), a failing input to WORK/. The seeds are only
# read.
foreach(var FUZZER SEEDS WORK SECONDS MAX_LEN)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_fuzz.cmake needs -D${var}=...")
  endif()
endforeach()

# libFuzzer looks for a leak after every input that allocated more than it
# freed. The simulated host keeps what outlives an input (its latest
# handler activations, the room its tables and record pool grew to), so
# many inputs would trigger that search of the whole heap; the leak check
# at exit still runs. Inputs that give the multi node hundreds of stages
# take far longer than the rest and reach nothing new after the first few;
# weighing inputs by their time keeps them from taking most of the run.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus")
execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -timeout=10 -max_len=${MAX_LEN}
          -detect_leaks=0 -entropic_scale_per_exec_time=1 -print_final_stats=1
          -artifact_prefix=${WORK}/ "${WORK}/corpus" "${SEEDS}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the failing input is in ${WORK}")
endif()
