.PHONY: run test build fuzz bench format

run:
	bash scripts/run.sh

test:
	bash scripts/test.sh

build:
	cmake --preset dev && cmake --build --preset dev

fuzz:
	bash scripts/fuzz.sh 60

bench:
	cmake --preset release && cmake --build --preset release

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
