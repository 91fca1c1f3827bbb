// The one result type of Rekmo's layers. The format reader, the conversion
// core and the platform layer all answer with a Result; app/ alone decides
// which message a result shows and which exit status it ends with.
#pragma once

#include <cstddef>

namespace rekmo {

enum class Result {
    OK,                 // done
    USAGE,              // the command line does not name exactly three files
    CANNOT_OPEN,        // a file cannot be opened, created or identified, or is a directory
    SIZE_MISMATCH,      // the host file's size is no whole multiple of the record length
    READ_ERROR,         // a read failed, or the input ended inside a record
    WRITE_ERROR,        // a write of the output failed, or completing it (a flush, a close) did
    ITEM_SIZE,          // an item's length is 0, above 16 MiB, or too long for its Z or P type
    ITEM_TYPE,          // an item's type field names no item type
    ITEM_POSITION,      // an item starts before position 1 or ends beyond 16 MiB
    RECORD_LENGTH,      // the record length is below 1 or above 16 MiB
    HOST_CODE,          // a HOSTCODE line names no host code page
    FORMAT_SIZE,        // the format file goes on past 16 MiB (a device, a file that never ends)
    OPTION,             // a CSV, SCALE, SIGN, DIGITS, KIND or RECFM line is malformed or does not fit the items
    OUT_OF_MEMORY,      // memory ran out
    RECORD_KIND,        // a record matches no KIND line, and no item line comes before the first
    RECORD_DESCRIPTOR,  // a V or VB file's record or block descriptor word is wrong, or a record runs past its end
};

// What one read gave: the bytes placed in the buffer, and OK or READ_ERROR.
// A count short of the buffer with OK means that the input has ended.
struct ReadResult {
    std::size_t count = 0;
    Result result = Result::OK;
};

}  // namespace rekmo
