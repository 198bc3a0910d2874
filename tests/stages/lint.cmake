# The committed layout of the C++, the Python and the shell, and clean
# shell and Python.
foreach(tool clang-format black shfmt shellcheck python)
  nb_stage(lint.${tool} lint "${NB_PYTHON}" "${NB_STAGES_SRC}/lint.py" ${tool} "${PROJECT_SOURCE_DIR}")
endforeach()
