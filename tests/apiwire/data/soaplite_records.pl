#!/usr/bin/perl
# Writes, with SOAP::Lite's own serializer, one request envelope carrying a source
# configuration, an archive configuration, a query record and a list of plug-in types, as a
# client written in Perl would send them. The envelope goes to standard output.
use strict;
use warnings;
use SOAP::Lite;
use Encode;

my $ns = $ARGV[0];
sub typed { my ($name, $type, $value) = @_; SOAP::Data->name($name => $value)->type($type) }
sub rec {
    my ($name, $type, @members) = @_;
    SOAP::Data->name($name => \SOAP::Data->value(@members))->type("tn:$type");
}
sub enum { my ($name, $type, $token) = @_; SOAP::Data->name($name => $token)->type("tn:$type") }

my $acl = SOAP::Data->name(ACL => [
    SOAP::Data->name(item => \SOAP::Data->value(
        typed(Name => 'string', 'staff'), enum(Access => 'AccessType', 'WRITEACCESS'),
        typed(Deny => 'boolean', 'false'))),
    SOAP::Data->name(item => \SOAP::Data->value(
        typed(Name => 'string', 'guest'), enum(Access => 'AccessType', 'READACCESS'),
        typed(Deny => 'boolean', 'true'))),
]);

my $source = rec(cfg => 'SourceConfiguration',
    typed(Name => 'string', Encode::encode('UTF-8', "Intranet \x{e9}t\x{e9}")),
    typed(Description => 'string', 'a & <b>'),
    SOAP::Data->name(Seeds => ['http://intra/', 'http://wiki/']),
    typed(CheckRobotsTxt => 'boolean', 'true'),
    typed(HasSideMetadata => 'boolean', 'false'),
    typed(DepthLimit => 'int', 5),
    enum(Type => 'AuthType', 'AUTH_COOKIE'),
    rec(CookieParams => 'CookieAuthParams',
        typed(Url => 'string', 'http://intra/login'),
        enum(Action => 'CookieActionType', 'POST'),
        typed(Freshness => 'int', 3600),
        SOAP::Data->name(Params => [
            SOAP::Data->name(item => \SOAP::Data->value(
                typed(Name => 'string', 'user'), typed(Value => 'string', 'bob'),
                enum(Type => 'CookieParamType', 'USERNAME'))),
        ])),
    SOAP::Data->name(RendererDocFilterIDs => [4, 9]),
    $acl);

my $archive = rec(archive => 'ArchiveConfiguration',
    typed(Name => 'string', 'Wiki'),
    typed(Historicize => 'boolean', 'true'),
    typed(AdministrativeContact => 'string', 'root@intra'),
    typed(Source => 'int', 3), typed(Auth => 'int', 0),
    enum(SchedulingFrequency => 'Frequency', 'WEEKLY'),
    typed(SchedulingAttribute => 'int', 2), typed(AccessTime => 'int', 22),
    typed(PagesLimit => 'int', 1000), typed(GarbageLimit => 'int', 10));

my $query = rec(query => 'QuerySpec',
    SOAP::Data->name(Archives => [3, 4]),
    typed(Archive => 'int', 7),
    typed(FirstDoc => 'int', 10), typed(LastDoc => 'int', 19),
    typed(MinTime => 'int', 0), typed(MaxTime => 'int', 2147483647),
    enum(Info => 'QueryInfo', 'TITLE'), enum(View => 'QueryView', 'VIEW_CORECHANGED'),
    enum(Sort => 'QuerySort', 'SCORE_AGED'), enum(Parser => 'QueryParser', 'SOAPARSER'),
    SOAP::Data->name(Query => [
        SOAP::Data->name(item => \SOAP::Data->value(
            enum(Type => 'QueryAtomType', 'ATOM_WORD'), typed(Param => 'string', 'lumbrake'))),
        SOAP::Data->name(item => \SOAP::Data->value(
            enum(Type => 'QueryAtomType', 'NEAR_SEQ'), typed(Param => 'string', '2'),
            typed(Meta => 'string', ''))),
    ]),
    typed(QueryString => 'string', 'wiki AND intra'),
    SOAP::Data->name(Weights => [
        SOAP::Data->name(item => \SOAP::Data->value(typed(Slice => 'int', 1), typed(Weight => 'int', 50))),
    ]));

my $types = SOAP::Data->name(types => ['MULTIFORMFFF_PLUGINTYPE', 'UNKNOWN_PLUGINTYPE']);

my $serializer = SOAP::Serializer->new;
$serializer->register_ns($ns, 'tn');
binmode STDOUT;
print $serializer->envelope(method => SOAP::Data->name('Records')->uri($ns),
                            $source, $archive, $query, $types);
