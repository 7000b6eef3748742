# The two commands of the README. Both install what is missing first.
.PHONY: test run

test:
	./scripts/test.sh

run:
	./scripts/run.sh
