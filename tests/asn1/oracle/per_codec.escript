#!/usr/bin/env escript
%% Erlang's aligned PER codec, the independent check of the project's coder; given
%% "ber" as a third argument, Erlang's BER codec instead.
%%
%%   escript per_codec.escript SCHEMA.asn OUTDIR [per|ber]
%%
%% Compiles the schema into OUTDIR unless OUTDIR holds its module compiled already (a
%% .beam named after the ASN.1 module, no older than the schema), loads the module,
%% prints "ready", then answers each line read on standard input with one line:
%%   check TYPE HEX TERM  encodes TERM and decodes the octets HEX (the project's encoding
%%                        of TERM): "ok ERLANG_HEX same", or "ok ERLANG_HEX differs
%%                        DECODED" when the decoded value is not TERM, "unreadable"
%%                        instead of "differs" when Erlang's own octets of TERM do not
%%                        decode to TERM either
%%   decode TYPE HEX [TERM]  decodes the octets HEX alone: "ok same" when they decode to
%%                        TERM (or "ok" without TERM), "ok differs DECODED" when to
%%                        another value, "error WHY" when they do not decode
%%   time TYPE N TERM     encodes TERM N times, then decodes the result N times:
%%                        "ok ENCODE_NS DECODE_NS", nanoseconds per operation
%% Anything that fails answers "error WHY". End of input ends the process.
%%
%% Compiled, not interpreted: an interpreted timer loop runs three to five times slower.
-mode(compile).

main([Schema, OutDir]) ->
    main([Schema, OutDir, "per"]);
main([Schema, OutDir, Rules]) when Rules =:= "per"; Rules =:= "ber" ->
    Module = list_to_atom(filename:basename(Schema, ".asn")),
    Beam = filename:join(OutDir, atom_to_list(Module) ++ ".beam"),
    Compiled = filelib:is_regular(Schema) andalso filelib:is_regular(Beam)
        andalso filelib:last_modified(Beam) >= filelib:last_modified(Schema),
    case Compiled of
        true -> ok;
        false ->
            case asn1ct:compile(Schema, [list_to_atom(Rules), {outdir, OutDir}]) of
                ok -> ok;
                Error -> fail("cannot compile ~s: ~p", [Schema, Error])
            end
    end,
    true = code:add_patha(OutDir),
    case code:ensure_loaded(Module) of
        {module, Module} -> ok;
        Failed -> fail("cannot load ~s: ~p", [Module, Failed])
    end,
    reply("ready"),
    serve(Module);
main(_) ->
    fail("usage: per_codec.escript SCHEMA.asn OUTDIR [per|ber]", []).

fail(Format, Arguments) ->
    io:format(standard_error, "per_codec: " ++ Format ++ "~n", Arguments),
    halt(1).

reply(Text) ->
    io:put_chars([Text, $\n]).

serve(Module) ->
    case io:get_line("") of
        eof -> halt(0);
        {error, Why} -> fail("reading standard input: ~p", [Why]);
        Line ->
            reply(answer(Module, string:trim(Line, trailing, "\r\n"))),
            serve(Module)
    end.

answer(Module, Line) ->
    try
        request(Module, string:split(Line, " ", all))
    catch
        Class:Why -> io_lib:format("error ~w:~0P", [Class, Why, 40])
    end.

request(Module, ["check", Type, Hex | Term]) ->
    Value = parse_term(lists:join(" ", Term)),
    TypeName = list_to_atom(Type),
    {ok, Theirs} = Module:encode(TypeName, Value),
    Decoded = decode(Module, TypeName, binary:decode_hex(list_to_binary(Hex))),
    Verdict = case Decoded =:= Value of
                  true -> " same";
                  false ->
                      case decode(Module, TypeName, Theirs) =:= Value of
                          true -> [" differs ", io_lib:format("~0P", [Decoded, 40])];
                          false -> [" unreadable ", io_lib:format("~0P", [Decoded, 40])]
                      end
              end,
    ["ok ", binary:encode_hex(Theirs), Verdict];
request(Module, ["decode", Type, Hex | Term]) ->
    case decode(Module, list_to_atom(Type), binary:decode_hex(list_to_binary(Hex))) of
        {decode_error, Why} -> io_lib:format("error ~0P", [Why, 40]);
        _ when Term =:= [] -> "ok";
        Decoded ->
            case parse_term(lists:join(" ", Term)) of
                Decoded -> "ok same";
                _ -> ["ok differs ", io_lib:format("~0P", [Decoded, 40])]
            end
    end;
request(Module, ["time", Type, Count | Term]) ->
    Value = parse_term(lists:join(" ", Term)),
    TypeName = list_to_atom(Type),
    N = list_to_integer(Count),
    {ok, Octets} = Module:encode(TypeName, Value),
    {ok, Value} = Module:decode(TypeName, Octets),
    T0 = erlang:monotonic_time(nanosecond),
    encode_loop(Module, TypeName, Value, N),
    T1 = erlang:monotonic_time(nanosecond),
    decode_loop(Module, TypeName, Octets, N),
    T2 = erlang:monotonic_time(nanosecond),
    io_lib:format("ok ~.1f ~.1f", [(T1 - T0) / N, (T2 - T1) / N]);
request(_, _) ->
    "error unknown request".

decode(Module, Type, Octets) ->
    case Module:decode(Type, Octets) of
        {ok, Value} -> Value;
        {error, Why} -> {decode_error, Why}
    end.

parse_term(Text) ->
    {ok, Tokens, _} = erl_scan:string(lists:flatten(Text) ++ "."),
    {ok, Term} = erl_parse:parse_term(Tokens),
    Term.

encode_loop(_, _, _, 0) -> ok;
encode_loop(Module, Type, Value, N) ->
    {ok, _} = Module:encode(Type, Value),
    encode_loop(Module, Type, Value, N - 1).

decode_loop(_, _, _, 0) -> ok;
decode_loop(Module, Type, Octets, N) ->
    {ok, _} = Module:decode(Type, Octets),
    decode_loop(Module, Type, Octets, N - 1).
