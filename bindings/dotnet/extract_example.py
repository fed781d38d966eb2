"""Writes the README's C# host example to a file, so that the build compiles
and the tests run exactly what the README shows.

    python3 extract_example.py README.md OUTPUT.cs
"""

import re
import sys
from pathlib import Path


def example(readme_text):
    """The first ```csharp block of the README."""
    match = re.search(r"^```csharp\n(.*?)^```", readme_text, flags=re.S | re.M)
    if not match:
        raise ValueError("the README has no ```csharp block")
    return match.group(1)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    Path(sys.argv[2]).write_text("// Copied from bindings/dotnet/README.md by the build. Do not edit.\n"
                                 + example(Path(sys.argv[1]).read_text()))
