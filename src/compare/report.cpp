// The DIFFERENCE line and the report buffer.
#include "compare/report.h"

#include "compare/output.h"
#include "compare/text.h"

namespace {

char* put_byte(char* p, unsigned char byte)
{
    p = put_decimal(p, byte);
    p = put_literal(p, " (0x");
    p = put_hex(p, byte, 2);
    *p++ = ')';
    return p;
}

}  // namespace

char* put_difference(char* p, const difference& d)
{
    p = put_literal(p, "DIFFERENCE count=");
    p = put_decimal(p, d.position);
    p = put_literal(p, "  file1=");
    p = put_byte(p, d.byte1);
    p = put_literal(p, "  file2=");
    p = put_byte(p, d.byte2);
    p = put_literal(p, "  errors=");
    p = put_decimal(p, d.errors);
    p = put_literal(p, " i=");
    p = put_decimal(p, static_cast<std::uint64_t>(d.i));
    p = put_literal(p, " block=");
    p = put_decimal(p, d.block);
    *p++ = '\n';
    return p;
}

std::string difference_line(const difference& d)
{
    char line[difference_line_room];
    return std::string(line, put_difference(line, d));
}

void report_drain(report_buffer& report)
{
    if (report.used > 0 && report.write_error == 0)
        report.write_error = write_whole(report.err, report.data, report.used);
    report.used = 0;
}

void report_flush(report_buffer& report)
{
    report_drain(report);
    if (report.write_error == 0)
        report.write_error = flush_whole(report.err);
}
