"""Arithmetic formulas translated once, evaluated often: the tallymat library
from Python, through ctypes (no compiler needed).

    >>> import tallymat
    >>> f = tallymat.Formula("x*(x+1)-sqrt(y)", x=2, y=4)
    >>> f(x=3)
    10.0
    >>> tallymat.evaluate("2^10")
    1024.0

Formula, evaluate and variables raise TranslationError, EvaluationError or
VariableError (all TallymatError, carrying code, offset and message).  The
thirteen C functions stay available under their own names, taking str and
float and returning codes as the C interface does.

The library keeps process-wide state (100 variables, 100 formula slots, the
last error): every Python user of one process shares it.  Calls hold a
module lock, so threads may share it too, one call at a time.
"""

import ctypes
import ctypes.util
import os
import sys
import threading

__all__ = [
    "Formula", "evaluate", "variables", "load", "TallymatError", "TranslationError", "EvaluationError",
    "VariableError", "message", "vinsert", "vlookup", "vgetvalue", "vsetvalue", "vgetname", "vclr", "exprpost",
    "exprdelete", "exprclr", "calcpost", "geterrnum", "geterroffs", "getstrerror",
]

# The codes, as tallymat.h names them.
OK = 0
E_NO_CLOSING_BRACKET = 1
E_NO_FUNCTION_BRACKET = 2
E_SURPLUS_BRACKET = 3
E_UNDEFINED_SYMBOL = 4
E_BUFFER_OVERFLOW = 5
E_UNDEFINED_OPERATION = 6
E_NO_MEMORY = 7
E_VARIABLE_TABLE_FULL = 8
E_DUPLICATE = 9
E_UNEXPECTED_END = 10
E_DIVISION_BY_ZERO = 11
E_SINGULARITY = 12
E_DOMAIN = 13
E_OVERFLOW = 14
E_UNDERFLOW = 15
E_PRECISION_LOSS = 16
E_TABLE_NOT_CREATED = 17
E_TOO_MANY_EXPRESSIONS = 18
E_INVALID_VARIABLE = 19
E_INVALID_EXPRESSION = 20
E_EMPTY_STRING = 21

_SLOTS = 100

# The thirteen functions: name, result type, argument types.
_DOUBLE, _INT, _TEXT = ctypes.c_double, ctypes.c_int, ctypes.c_char_p
_SIGNATURES = (
    ("vinsert", _INT, (_TEXT, _DOUBLE)),
    ("vlookup", _INT, (_TEXT,)),
    ("vgetvalue", _DOUBLE, (_INT,)),
    ("vsetvalue", _INT, (_INT, _DOUBLE)),
    ("vgetname", _TEXT, (_INT,)),
    ("vclr", _INT, ()),
    ("exprpost", _INT, (_TEXT,)),
    ("exprdelete", _INT, (_INT,)),
    ("exprclr", _INT, ()),
    ("calcpost", _DOUBLE, (_INT,)),
    ("geterrnum", _INT, ()),
    ("geterroffs", _INT, ()),
    ("getstrerror", _TEXT, (_INT,)),
)


class _Library(ctypes.CDLL):
    # The functions keep the interpreter lock while they run (ctypes would
    # release it): a call from one thread never overlaps one from another.
    # The 32-bit Windows DLL exports stdcall functions.
    _func_flags_ = ((ctypes._FUNCFLAG_STDCALL if os.name == "nt" else ctypes._FUNCFLAG_CDECL)
                    | ctypes._FUNCFLAG_PYTHONAPI)


_lock = threading.RLock()  # held across the calls that make one Python operation
_library = None


def _default_names():
    if os.environ.get("TALLYMAT_LIBRARY"):
        return [os.environ["TALLYMAT_LIBRARY"]]
    if os.name == "nt":
        return ["tallymat.dll"]
    found = ctypes.util.find_library("tallymat")
    return ["libtallymat.so.1"] + ([found] if found else [])


def load(path=None):
    """Loads the library: from `path` when given, else from $TALLYMAT_LIBRARY,
    else the installed libtallymat.so.1 (tallymat.dll on Windows, found as
    Windows finds DLLs).  The first call that needs the library loads it this
    way by itself; call load() first to choose another copy.  Returns the
    ctypes library object."""
    global _library
    with _lock:
        names = [os.fspath(path)] if path is not None else _default_names()
        errors = []
        for name in names:
            try:
                library = _Library(name)
                break
            except OSError as error:
                errors.append(str(error))
        else:
            raise OSError("tallymat: the library could not be loaded (%s); install libtallymat1, or name it with "
                          "tallymat.load(path) or TALLYMAT_LIBRARY" % "; ".join(errors))
        for name, result, arguments in _SIGNATURES:
            function = getattr(library, name)
            function.restype, function.argtypes = result, arguments
        _library = library
        return library


def _c():
    return _library if _library is not None else load()


def _text(text, what):
    """The bytes the library reads for a name or a formula: str as UTF-8 (the
    formula language is ASCII, so offsets in characters and in bytes agree
    up to the first character it refuses), bytes as they are."""
    if isinstance(text, str):
        data = text.encode("utf-8", "surrogateescape")
    elif isinstance(text, (bytes, bytearray)):
        data = bytes(text)
    else:
        raise TypeError("tallymat: a %s is str or bytes, not %s" % (what, type(text).__name__))
    nul = data.find(b"\0")
    if nul >= 0:
        raise ValueError("tallymat: the %s holds a NUL character at offset %d, where the library would stop "
                         "reading: %r" % (what, nul, text))
    return data


def _name(stored):
    return None if stored is None else stored.decode("utf-8", "surrogateescape")


# The plain functions, as the C interface has them.

def vinsert(name, value):
    return _c().vinsert(_text(name, "name"), value)


def vlookup(name):
    return _c().vlookup(_text(name, "name"))


def vgetvalue(handle):
    return _c().vgetvalue(handle)


def vsetvalue(handle, value):
    return _c().vsetvalue(handle, value)


def vgetname(handle):
    """The stored upper-case name, or None for an invalid handle."""
    return _name(_c().vgetname(handle))


def vclr():
    return _c().vclr()


def exprpost(text):
    return _c().exprpost(_text(text, "formula"))


def exprdelete(handle):
    return _c().exprdelete(handle)


def exprclr():
    return _c().exprclr()


def calcpost(handle):
    return _c().calcpost(handle)


def geterrnum():
    return _c().geterrnum()


def geterroffs():
    return _c().geterroffs()


def getstrerror(code):
    """The code's message, decoded from Windows-1251 ("" out of range; code
    0: the last error's)."""
    return _c().getstrerror(code).decode("cp1251")


def message(code):
    """The message of a code; "" for 0."""
    return getstrerror(code) if code != OK else ""


# The Pythonic layer.

class TallymatError(Exception):
    """A code of the library, with its message and, for a translation, the
    offset where it stopped (0 otherwise)."""

    def __init__(self, code, offset=0, text=None):
        self.code, self.offset, self.text = code, offset, text
        self.message = message(code)
        where = " at offset %d of %r" % (offset, text) if text is not None else ""
        super().__init__("error %d%s: %s" % (code, where, self.message))


class TranslationError(TallymatError, ValueError):
    """A formula the library could not translate."""


class EvaluationError(TallymatError, ArithmeticError):
    """An evaluation the library refused (division by zero, domain, overflow...)."""


class VariableError(TallymatError, LookupError):
    """A variable the library could not store or find."""


def _set_variable(name, value):
    handle = vlookup(name)
    code = vsetvalue(handle, value) if handle >= 0 else vinsert(name, value)
    if code != OK:
        raise VariableError(code)


class _Variables:
    """The library's variable table as a mapping: names are case-insensitive
    and listed as stored (upper-cased); setting a new name creates it."""

    def __getitem__(self, name):
        with _lock:
            handle = vlookup(name)
            if handle < 0:
                raise KeyError(name)
            return vgetvalue(handle)

    def __setitem__(self, name, value):
        with _lock:
            _set_variable(name, float(value))

    def __contains__(self, name):
        return vlookup(name) >= 0

    def __iter__(self):
        return iter(self.keys())

    def __len__(self):
        return len(self.keys())

    def keys(self):
        with _lock:
            names, handle = [], 0
            while (name := vgetname(handle)) is not None:
                names.append(name)
                handle += 1
            return names

    def items(self):
        with _lock:
            return [(name, vgetvalue(handle)) for handle, name in enumerate(self.keys())]

    def update(self, values=(), **more):
        with _lock:
            for name, value in dict(values, **more).items():
                self[name] = value

    def clear(self):
        """Removes every variable: formulas that name one stop evaluating (code 20)."""
        vclr()

    def __repr__(self):
        return "tallymat.variables(%r)" % dict(self.items())


variables = _Variables()

# Bumped whenever a Formula takes a slot: a Formula whose slot a raw
# exprdelete or exprclr released, and another Formula then took, neither
# evaluates nor releases it.
_generations = [0] * _SLOTS


class Formula:
    """A translated formula, holding one of the library's 100 slots until
    close() (or a with-block's end, or the object's collection).

    Formula(text, **variables) sets the variables first (creating new ones),
    so that the formula may name them; calling the formula, optionally with
    new values, evaluates it."""

    def __init__(self, text, **values):
        self.text, self.handle = text, -1
        with _lock:
            variables.update(values)
            handle = exprpost(text)
            if handle < 0:
                raise TranslationError(geterrnum(), geterroffs(), text)
            _generations[handle] += 1
            self.handle, self._generation = handle, _generations[handle]

    def _owns_slot(self):
        return 0 <= self.handle < _SLOTS and _generations[self.handle] == self._generation

    def __call__(self, **values):
        """Evaluates the formula after setting the variables given."""
        with _lock:
            variables.update(values)
            if not self._owns_slot():
                raise EvaluationError(E_INVALID_EXPRESSION)
            value = calcpost(self.handle)
            code = geterrnum()
            if code != OK:
                raise EvaluationError(code)
            return value

    evaluate = __call__

    def close(self):
        """Releases the slot; evaluating afterwards raises code 20."""
        with _lock:
            if self._owns_slot() and _library is not None:
                exprdelete(self.handle)
            self.handle = -1

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        if sys is not None and not sys.is_finalizing():
            self.close()

    def __repr__(self):
        return "tallymat.Formula(%r)" % (self.text,)


def evaluate(text, **values):
    """Translates, evaluates and releases one formula: evaluate("x^2", x=3)."""
    with Formula(text, **values) as formula:
        return formula()
