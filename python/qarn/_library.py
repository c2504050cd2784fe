"""Finding libqarn.so and declaring the functions it exports."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
from pathlib import Path
from typing import Optional

NotifyProc = ctypes.CFUNCTYPE(None, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_void_p)

_PROTOTYPES = {
    "OpenDevice": (ctypes.c_int, [ctypes.c_int, ctypes.c_int]),
    "CloseDevice": (ctypes.c_int, [ctypes.c_int]),
    "ConnectPort": (ctypes.c_int, [ctypes.c_int, ctypes.c_char_p]),
    "DisConnectPort": (ctypes.c_int, [ctypes.c_int]),
    "IsConnect": (ctypes.c_int, [ctypes.c_int]),
    "GetRtsControl": (ctypes.c_int, [ctypes.c_int]),
    "SetMyAddress": (ctypes.c_int, [ctypes.c_int, ctypes.c_int]),
    "SetCommKey": (None, [ctypes.c_int, ctypes.c_char_p]),
    "SetWaitTime": (ctypes.c_int, [ctypes.c_int, ctypes.c_int]),
    "SetInnerCode": (ctypes.c_int, [ctypes.c_int, ctypes.c_int]),
    "SetInnerCmd": (ctypes.c_int, [ctypes.c_int, ctypes.c_int]),
    "SetAddLog": (ctypes.c_int, [ctypes.c_int, ctypes.c_int]),
    "StartQARNCommand": (
        ctypes.c_int,
        [ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_void_p, ctypes.c_int],
    ),
    "GetCmdResult": (ctypes.c_int, [ctypes.c_int]),
    "GetSizeOfData": (ctypes.c_int, [ctypes.c_int]),
    "GetData": (ctypes.c_int, [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]),
    "GetRecordForm": (ctypes.c_int, [ctypes.c_int]),
    "EndQARNCommand": (ctypes.c_int, [ctypes.c_int]),
    "PostQuitToOwner": (ctypes.c_int, [ctypes.c_int]),
    "CancelQARNCommand": (ctypes.c_int, [ctypes.c_int]),
    "RecvEdition": (None, [ctypes.c_char_p]),
    "SendFrame": (None, [ctypes.c_int, ctypes.c_char_p]),
    "SendCommandFrame": (None, [ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_char_p]),
    "RecvStream": (ctypes.c_int, [ctypes.c_int, ctypes.c_char_p]),
    "RecvHDLC": (ctypes.c_int, [ctypes.c_int, ctypes.c_char_p]),
    "ClearRecvStr": (None, [ctypes.c_int]),
    "CreateNotifyWindow": (ctypes.c_int, [NotifyProc, ctypes.c_void_p]),
    "DestroyNotifyWindow": (ctypes.c_int, [ctypes.c_int]),
    "PumpMessages": (ctypes.c_int, [ctypes.c_int]),
}

_loaded: Optional[ctypes.CDLL] = None
_loaded_from: Optional[str] = None


def candidates() -> list[str]:
    """Where the library is looked for, in order: QARN_LIBRARY, beside the package, the
    system's loader."""
    found = []
    if os.environ.get("QARN_LIBRARY"):
        found.append(os.environ["QARN_LIBRARY"])
    here = Path(__file__).resolve().parent
    found += sorted(str(p) for p in here.glob("libqarn.so*"))
    found += ["libqarn.so.4", "libqarn.so"]
    system = ctypes.util.find_library("qarn")
    if system:
        found.append(system)
    return found


def library() -> ctypes.CDLL:
    """The loaded library; OSError naming every place tried when there is none."""
    global _loaded, _loaded_from
    if _loaded is not None:
        return _loaded
    errors = []
    for name in candidates():
        try:
            loaded = ctypes.CDLL(name, use_errno=True)  # ConnectPort's reason
        except OSError as error:
            errors.append(f"{name}: {error}")
            continue
        for function, (result, arguments) in _PROTOTYPES.items():
            entry = getattr(loaded, function)
            entry.restype = result
            entry.argtypes = arguments
        _loaded, _loaded_from = loaded, name
        return loaded
    raise OSError("libqarn.so not found (set QARN_LIBRARY to its path); tried:\n  "
                  + "\n  ".join(errors))


def library_path() -> Optional[str]:
    """The path or name the library was loaded from, once loaded."""
    return _loaded_from
