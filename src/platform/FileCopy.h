#pragma once

#include <QtGlobal>

#include <functional>

// Copying and comparing open files in large blocks. `proceed` is asked before every block; when it answers
// false the work ends there.
namespace FileCopy {

struct Outcome {
    qint64 bytes = 0;     // written to the target
    int error = 0;        // errno of a failed read or write
    bool stopped = false; // `proceed` said no
};

// Copies all of `from`, from its start to its end, into the empty file `to`: a clone sharing the blocks
// where the file system can make one, else a copy inside the kernel, else reads and writes.
Outcome copy(int from, int to, const std::function<bool()> &proceed);

enum class Comparison { equal, different, failed, stopped };
// Whether the two files hold the same bytes, read from both in step.
Comparison compare(int a, int b, const std::function<bool()> &proceed);

} // namespace FileCopy
