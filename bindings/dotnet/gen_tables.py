"""Generates the C# tables of the .NET binding from the library's public headers.

The status codes (the JUXHID_STATUS_TABLE X-macro of juxhid_status.h) and the
simulated bus's call and thread enumerations (juxhid_sim.h) have one source,
the headers. The headers are parsed by the Python package's generator, so that
both bindings read them the same way; this script only writes C#.

    python3 gen_tables.py INCLUDE_DIR OUTPUT.cs
"""

import importlib.util
import sys
from pathlib import Path

_HERE = Path(__file__).resolve().parent


def _header_parser():
    path = _HERE.parent / "python" / "gen_tables.py"
    spec = importlib.util.spec_from_file_location("juxhid_header_parser", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def pascal_case(name, prefix):
    """JUXHID_READ_DEVICE_GONE with prefix JUXHID_ -> ReadDeviceGone."""
    if not name.startswith(prefix):
        raise ValueError("%s does not start with %s" % (name, prefix))
    return "".join(word.capitalize() for word in name[len(prefix):].split("_") if word)


def csharp_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def render(status, sim_calls, sim_threads):
    out = ["// Generated from include/juxhid_status.h and include/juxhid_sim.h by",
           "// bindings/dotnet/gen_tables.py at build time. Do not edit.",
           "namespace Juxhid",
           "{",
           "    /// <summary>Every status code the library returns, named as in juxhid_status.h.</summary>",
           "    public enum StatusCode",
           "    {"]
    out += ["        %s = %d," % (pascal_case(name, "JUXHID_"), code) for code, name, _ in status]
    out += ["    }", "",
            "    public static partial class StatusTable",
            "    {",
            "        static readonly Status[] entries =",
            "        {"]
    out += ["            new Status(%d, %s, %s)," % (code, csharp_string(name), csharp_string(meaning))
            for code, name, meaning in status]
    out += ["        };", "    }", "",
            "    /// <summary>The platform calls a simulated fault can make fail (juxhid_sim.h's JuxsimCall).</summary>",
            "    public enum SimCall",
            "    {"]
    out += ["        %s = %d," % (pascal_case(name, "JUXSIM_CALL_"), value)
            for name, value in sim_calls if not name.endswith("_END_")]
    out += ["    }", "",
            "    /// <summary>The threads a simulated fault can be limited to (juxhid_sim.h's JuxsimThread).</summary>",
            "    public enum SimThread",
            "    {"]
    out += ["        %s = %d," % (pascal_case(name, "JUXSIM_THREAD_"), value) for name, value in sim_threads]
    out += ["    }", "}", ""]
    return "\n".join(out)


def main(include_dir, output):
    parser = _header_parser()
    include = Path(include_dir)
    status_text = (include / "juxhid_status.h").read_text()
    sim_text = (include / "juxhid_sim.h").read_text()
    source = render(parser.parse_status_table(status_text), parser.parse_enum(sim_text, "JuxsimCall"),
                    parser.parse_enum(sim_text, "JuxsimThread"))
    Path(output).parent.mkdir(parents=True, exist_ok=True)
    Path(output).write_text(source)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
