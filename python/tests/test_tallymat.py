"""The Python module against the library it loads ($TALLYMAT_LIBRARY, or
the installed one); $TALLYMAT_HEADER names tallymat.h for the codes."""

import contextlib
import io
import math
import os
import re
import struct
import unittest

import tallymat


def bits(x):
    return struct.pack("<d", x)


class Fresh(unittest.TestCase):
    def setUp(self):
        tallymat.exprclr()
        tallymat.vclr()


class Codes(unittest.TestCase):
    def test_every_code_of_the_header_under_its_name(self):
        with open(os.environ["TALLYMAT_HEADER"], encoding="utf-8") as f:
            header = dict(re.findall(r"TALLYMAT_(OK|E_\w+) = (\d+)", f.read()))
        self.assertEqual(len(header), 22)
        for name, value in header.items():
            self.assertEqual(getattr(tallymat, name), int(value), name)


class Evaluation(Fresh):
    def test_values_come_back_as_the_library_computes_them(self):
        rows = [  # formula, variables, the double expected
            ("2^10", {}, 1024.0),
            ("1/3", {}, 1 / 3),
            ("sqrt(2)", {}, math.sqrt(2)),
            ("2**0.5", {}, 1.0),  # ** truncates its exponent
            ("x*(x+1)-sqrt(y)", {"x": 3, "y": 4}, 10.0),
            ("-x", {"x": 0.0}, -0.0),
            ("exp(1)", {}, 2.718281828459045),
        ]
        for text, values, expected in rows:
            with self.subTest(text):
                self.assertEqual(bits(tallymat.evaluate(text, **values)), bits(expected))

    def test_failures_raise_with_code_offset_and_message(self):
        rows = [  # formula, exception, code, offset
            ("(1+2", tallymat.TranslationError, 1, 4),
            ("2+", tallymat.TranslationError, 10, 2),
            ("2+\u00e9", tallymat.TranslationError, 4, 2),  # offsets count characters
            ("nosuch+1", tallymat.TranslationError, 4, 0),
            ("", tallymat.TranslationError, 21, 0),
            ("1/0", tallymat.EvaluationError, 11, 0),
            ("ln(0)", tallymat.EvaluationError, 13, 0),
            ("exp(1000)", tallymat.EvaluationError, 14, 0),
        ]
        for text, exception, code, offset in rows:
            with self.subTest(text), self.assertRaises(exception) as caught:
                tallymat.evaluate(text)
            self.assertEqual((caught.exception.code, caught.exception.offset), (code, offset))
            self.assertEqual(caught.exception.message, tallymat.getstrerror(code))
            self.assertIsInstance(caught.exception, tallymat.TallymatError)
        self.assertEqual(tallymat.getstrerror(11), "Деление на 0")

    def test_text_the_library_cannot_take_is_refused(self):
        rows = [("1+1\0+x", ValueError), (b"1+\0", ValueError), (12, TypeError), (None, TypeError)]
        for text, exception in rows:
            with self.subTest(repr(text)), self.assertRaises(exception):
                tallymat.exprpost(text)
        self.assertEqual(tallymat.evaluate(b"2*3"), 6.0)


class Variables(Fresh):
    def test_the_table_as_a_mapping(self):
        v = tallymat.variables
        v["b"], v["a"] = 2, 1.5
        v["B"] = 5  # case-insensitive: updates b
        self.assertEqual(list(v), ["A", "B"])
        self.assertEqual((v["a"], v["b"], len(v)), (1.5, 5.0, 2))
        self.assertIn("A", v)
        self.assertNotIn("c", v)
        with self.assertRaises(KeyError):
            v["c"]
        self.assertEqual(tallymat.vgetname(7), None)
        self.assertEqual(tallymat.vinsert("a", 0), tallymat.E_DUPLICATE)

    def test_a_full_table_raises(self):
        for i in range(100):
            tallymat.variables["v%d" % i] = i
        with self.assertRaises(tallymat.VariableError) as caught:
            tallymat.variables["one_more"] = 0
        self.assertEqual(caught.exception.code, tallymat.E_VARIABLE_TABLE_FULL)


class Formulas(Fresh):
    def test_a_formula_reads_the_variables_current_at_each_call(self):
        f = tallymat.Formula("x^2+y", x=2, y=1)
        self.assertEqual((f(), f(x=3), f(y=0)), (5.0, 10.0, 9.0))
        tallymat.variables.clear()
        with self.assertRaises(tallymat.EvaluationError) as caught:
            f()
        self.assertEqual(caught.exception.code, tallymat.E_INVALID_EXPRESSION)

    def test_slots_are_released_and_never_released_twice(self):
        with tallymat.Formula("1") as first:
            self.assertEqual(first.handle, 0)
        self.assertEqual(tallymat.Formula("2").handle, 0)  # collected at once: slot 0 is free again
        older = tallymat.Formula("3")
        tallymat.exprclr()
        newer = tallymat.Formula("4")
        self.assertEqual(newer.handle, older.handle)
        with self.assertRaises(tallymat.EvaluationError):
            older()
        older.close()
        self.assertEqual(newer(), 4.0)


class Readme(Fresh):
    def test_the_readme_example_prints_what_its_comments_say(self):
        readme = os.path.join(os.path.dirname(os.environ["TALLYMAT_HEADER"]), "..", "README.md")
        with open(readme, encoding="utf-8") as f:
            code = re.search(r"```python\n(.*?)```", f.read(), re.S).group(1)
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            exec(code, {})
        said = [line.split("# ")[1] for line in code.splitlines() if line.startswith(("print(", "    print("))]
        self.assertEqual(printed.getvalue().splitlines(), said)


if __name__ == "__main__":
    unittest.main()
