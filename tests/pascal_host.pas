{ A Free Pascal host on the unit docs/hosts.md shows (extracted verbatim
  into tallymat.pas), with Free Pascal's own floating-point traps unmasked
  as they are by default. }
program pascal_host;
{$mode delphi}
{$codepage utf8}

uses Tallymat, Math;

var
  failures: Longint = 0;

procedure Check(ok: Boolean; const what: string);
begin
  if not ok then
  begin
    Writeln('FAILED: ', what);
    Inc(failures);
  end;
end;

var
  h: Longint;
  value: Double;
begin
  Check(vinsert('x', 2) = TALLYMAT_OK, 'vinsert');
  Check(vinsert('X', 3) = TALLYMAT_E_DUPLICATE, 'a second X is a duplicate');
  h := exprpost('x*(x+1)');
  Check((h >= 0) and (calcpost(h) = 6) and (geterrnum = TALLYMAT_OK), 'x*(x+1) at x = 2');
  Check(vsetvalue(vlookup('x'), 3) = TALLYMAT_OK, 'vsetvalue');
  Check(calcpost(h) = 12, 'x*(x+1) at x = 3');
  Check(vgetname(vlookup('x')) = 'X', 'the stored name');
  Check((exprpost('x*(x+1') < 0) and (geterrnum = TALLYMAT_E_NO_CLOSING_BRACKET) and (geterroffs = 6),
    'a missing bracket: code 1 at offset 6');
  { Neither a division by zero nor a NaN result traps in this host. }
  value := calcpost(exprpost('1/0'));
  Check((value = 0) and (geterrnum = TALLYMAT_E_DIVISION_BY_ZERO), '1/0 reports code 11');
  vinsert('n', NaN);
  value := calcpost(exprpost('n*2'));
  Check(IsNan(value) and (geterrnum = TALLYMAT_OK), 'a NaN comes back');
  Check((calcpost(99) = 0) and (geterrnum = TALLYMAT_E_INVALID_EXPRESSION), 'an unused slot');
  Check(TallymatMessage(TALLYMAT_E_DIVISION_BY_ZERO) = 'Деление на 0', 'a message from 1251');
  Writeln(TallymatMessage(TALLYMAT_E_UNEXPECTED_END));
  if failures > 0 then Halt(1);
  Writeln('pascal host: every check passed');
end.
