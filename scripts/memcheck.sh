#!/usr/bin/env bash
# The native suite under valgrind memcheck: the linux preset's test programs,
# and eapcfg importing and exporting every example through the product itself.
# Any memory error, or any definite or indirect leak, fails the run.
# secret_hygiene_tests is not run here: it replaces free itself, as valgrind does.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset linux >/dev/null
cmake --build --preset linux

memcheck=(valgrind -q --error-exitcode=99 --leak-check=full
  --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect)
bin=build/linux/bin
work="$(mktemp -d)"
trap 'rm -rf "${work}"' EXIT
# The tool's key and registry stay in the temporary folder.
export HOME="${work}" XDG_DATA_HOME="${work}/data" VELTOEAP_REGISTRY_ROOT="${work}/registry"

status=0
for program in unit_tests module_tests dialog_posix_tests sibling_binding_posix_tests sim_tests; do
  echo "=== memcheck ${program}"
  "${memcheck[@]}" "${bin}/tests/${program}" --gtest_brief=1 || status=1
done
for profile in examples/*.xml; do
  name="$(basename "${profile}" .xml)"
  echo "=== memcheck eapcfg import/export ${name}"
  "${memcheck[@]}" "${bin}/eapcfg" import "${profile}" -o "${work}/${name}.cdata" >/dev/null || status=1
  "${memcheck[@]}" "${bin}/eapcfg" export "${work}/${name}.cdata" >/dev/null || status=1
done
exit "${status}"
